#include "CliJson.h"
#include "CliTake.h"
#include "Commands.h"
#include "Output.h"

#include "capture/OverdubModel.h"
#include "edit/TakeEditorModel.h"
#include "model/TakeLibrary.h"
#include "model/UuidString.h"
#include "platform/Error.h"
#include "platform/sound/SoundSystem.h"
#include "play/Player.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <functional>

namespace reelbox::cli {

namespace {

// Runs the event loop until `done` holds; false after `timeoutMs` or a stop request.
bool runUntil(const std::function<bool()>& done, int timeoutMs, const std::stop_token& stop) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs || stop.stop_requested())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

} // namespace

int runOverdub(const Arguments& args, const std::stop_token& stop) {
    const QString folder = args.positional(0);
    std::optional<double> start;
    if (const auto text = args.value(QStringLiteral("start"))) {
        bool ok = false;
        start = text->toDouble(&ok);
        if (!ok)
            args.badValue(QStringLiteral("start"));
    }
    const double seconds = args.positiveNumber(QStringLiteral("seconds")).value_or(-1);
    const bool soundOnly = args.isSet(QStringLiteral("sound-only"));
    const std::optional<QString> output = args.value(QStringLiteral("output"));
    const std::optional<QString> camera = args.value(QStringLiteral("camera"));
    const std::optional<QString> microphone = args.value(QStringLiteral("microphone"));
    const std::optional<QList<int>> inputs = args.inputList(QStringLiteral("inputs"));
    const std::optional<int> countdown = args.count(QStringLiteral("countdown"));

    const Take take = loadTake(folder);
    TakeLibrary library(QFileInfo(take.folder).absolutePath());
    SoundSystem sound;
    TakeEditorModel editor(take, &library, sound);
    // The take's length is known once its movie was read.
    if (!runUntil([&] { return editor.sourceDuration() > 0; }, 20000, stop)) {
        editor.tearDown();
        if (stop.stop_requested())
            throw Cancelled();
        throw Error(QStringLiteral("The take's movie can't be read."));
    }

    DeviceManager devices(sound);
    // A choice is checked before it is remembered, so a wrong one leaves the last choice be.
    if (camera && std::none_of(devices.cameras().begin(), devices.cameras().end(),
                               [&](const CameraInfo& c) { return c.id == *camera; }))
        throw Error(QStringLiteral("There is no camera \"%1\".").arg(*camera));
    if (microphone && std::none_of(devices.microphones().begin(), devices.microphones().end(),
                                   [&](const SoundDevice& m) { return m.id == *microphone; }))
        throw Error(QStringLiteral("There is no microphone \"%1\".").arg(*microphone));
    if (camera)
        devices.setCameraID(camera);
    if (microphone)
        devices.setMicrophoneID(microphone);
    // The options hold for this run only: nothing of them is remembered.
    OverdubModel model(editor, devices, sound);
    model.useCountdownSeconds(countdown);
    if (output) {
        model.setOutputID(output, false);
        if (model.outputProblem().size())
            throw Error(model.outputProblem());
    }
    if (soundOnly)
        model.setRecordVideo(false, false);
    if (start) {
        const OverdubModel::Range range = model.startRange();
        if (*start < range.lower || *start > range.upper)
            throw UsageError{QStringLiteral("overdub: --start must lie in %1…%2")
                                 .arg(range.lower)
                                 .arg(range.upper)};
        model.setStartTime(*start);
    }

    bool cued = false;
    model.activate([&] { cued = true; });
    const bool ready = runUntil(
        [&] { return cued && model.channels().size() == size_t(model.microphoneChannels()); },
        60000, stop);
    const auto finish = [&] {
        model.deactivate();
        editor.tearDown();
    };
    if (model.errorMessage()) {
        finish();
        throw Error(*model.errorMessage());
    }
    if (!ready) {
        finish();
        throw Cancelled();
    }
    if (inputs)
        for (size_t c = 0; c < model.channels().size(); ++c)
            if (model.channels()[c].enabled != inputs->contains(int(c) + 1))
                model.toggleChannel(int(c));

    QEventLoop loop;
    std::optional<Overdub> added;
    QObject::connect(&model, &OverdubModel::recordingEnded, &loop,
                     [&](bool ok, const Overdub& overdub) {
                         if (ok)
                             added = overdub;
                         loop.quit();
                     });
    QObject::connect(&model, &OverdubModel::stateChanged, &loop, [&] {
        const RecorderState& state = model.state();
        if (state.kind == RecorderState::Kind::countdown)
            printError(QString::number(state.remaining));
        else if (state.kind == RecorderState::Kind::recording)
            printError(QStringLiteral("recording from %1 s").arg(model.sourceStart()));
        else if (state.kind == RecorderState::Kind::idle && !added)
            loop.quit(); // it could not start, or the countdown was cancelled
    });
    // The end after N seconds of the take, at its end, or on SIGINT/SIGTERM like the key.
    QTimer clock;
    clock.setInterval(20);
    bool stopAsked = false;
    QObject::connect(&clock, &QTimer::timeout, &loop, [&] {
        const RecorderState& state = model.state();
        if (stop.stop_requested() && state.kind == RecorderState::Kind::countdown) {
            model.toggleRecording();
            return;
        }
        if (state.kind != RecorderState::Kind::recording || stopAsked)
            return;
        const double played = double(state.since.msecsTo(QDateTime::currentDateTime())) / 1000;
        const bool atEnd = played > 0.5 && !model.player().isPlaying();
        if (stop.stop_requested() || atEnd || (seconds > 0 && played >= seconds)) {
            stopAsked = true;
            model.toggleRecording();
        }
    });
    QObject::connect(&model, &OverdubModel::errorMessageChanged, &loop, [&] {
        if (model.state().kind == RecorderState::Kind::idle)
            loop.quit();
    });
    clock.start();
    model.toggleRecording();
    loop.exec();
    clock.stop();

    const std::optional<QString> problem = model.errorMessage();
    finish();
    if (!added) {
        if (problem)
            throw Error(*problem);
        throw Cancelled();
    }
    QStringList tracks;
    for (const Track& track : editor.take().info.tracks)
        if (track.source.isOverdub(added->id))
            tracks << jsonString(track.name);
    printLine(uuidString(added->id));
    printLine(jsonObject({{QStringLiteral("start"), jsonNumber(added->start)},
                          {QStringLiteral("nudge"), jsonNumber(added->nudge)},
                          {QStringLiteral("duration"), jsonNumber(added->duration)},
                          {QStringLiteral("tracks"), jsonArray(tracks)}}));
    return success;
}

} // namespace reelbox::cli
