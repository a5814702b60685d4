#include "CliJson.h"
#include "Commands.h"
#include "Output.h"

#include "capture/RecorderModel.h"
#include "capture/RecordingRecovery.h"
#include "model/TakeLibrary.h"
#include "platform/Error.h"
#include "platform/sound/SoundSystem.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>

namespace reelbox::cli {

namespace {

QString elapsedText(qint64 ms) {
    const qint64 s = ms / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

TakeLibrary openLibrary(const QString& root) {
    return root.isEmpty() ? TakeLibrary() : TakeLibrary(root);
}

// The recovered takes' folders on stdout; what was removed, kept or left alone, on stderr.
// False when a take could not be finished.
bool reportRecovery(const RecordingRecovery::RecoveryReport& report) {
    for (const Take& take : report.recovered)
        printLine(take.folder);
    for (const QString& folder : report.removed)
        printError(QStringLiteral("removed %1: it holds nothing that can be played").arg(folder));
    for (const QString& folder : report.skipped)
        printError(QStringLiteral("skipped %1: it is still being recorded").arg(folder));
    for (const RecordingRecovery::RecoveryReport::Failure& failed : report.failed)
        printError(QStringLiteral("reelbox-cli: couldn't recover %1: %2 It is kept as it was.")
                       .arg(failed.folder, failed.message));
    return report.failed.empty();
}

} // namespace

int runRecover(const Arguments& args) {
    TakeLibrary library = openLibrary(args.value(QStringLiteral("root"), {}));
    return reportRecovery(RecordingRecovery::recoverAll(library)) ? success : failure;
}

int runRecord(const Arguments& args, const std::stop_token& stop) {
    const QString root = args.value(QStringLiteral("root"), {});
    const double seconds = args.positiveNumber(QStringLiteral("seconds")).value_or(-1);
    const std::optional<int> countdown = args.count(QStringLiteral("countdown"));
    const std::optional<QString> camera = args.value(QStringLiteral("camera"));
    const std::optional<QString> microphone = args.value(QStringLiteral("microphone"));
    std::optional<QSize> size;
    if (const auto text = args.value(QStringLiteral("size"))) {
        const QStringList parts = text->split(u'x');
        bool w = false, h = false;
        if (parts.size() == 2)
            size = QSize(parts[0].toInt(&w), parts[1].toInt(&h));
        if (!w || !h)
            args.badValue(QStringLiteral("size"));
    }
    const std::optional<QList<int>> inputs = args.inputList(QStringLiteral("inputs"));

    TakeLibrary library = openLibrary(root);
    SoundSystem sound;
    DeviceManager devices(sound);
    RecorderModel recorder(devices, sound);
    const auto choose = [](const std::optional<QString>& wanted) -> std::optional<QString> {
        return *wanted == u"none" ? std::nullopt : wanted;
    };
    // A choice is checked before it is remembered, so a wrong one leaves the last choice be.
    const std::optional<QString> cameraID = camera ? choose(camera) : std::nullopt;
    const std::optional<QString> microphoneID = microphone ? choose(microphone) : std::nullopt;
    if (cameraID && std::none_of(devices.cameras().begin(), devices.cameras().end(),
                                 [&](const CameraInfo& c) { return c.id == *cameraID; }))
        throw Error(QStringLiteral("There is no camera \"%1\".").arg(*camera));
    if (microphoneID && std::none_of(devices.microphones().begin(), devices.microphones().end(),
                                     [&](const SoundDevice& m) { return m.id == *microphoneID; }))
        throw Error(QStringLiteral("There is no microphone \"%1\".").arg(*microphone));
    if (camera)
        devices.setCameraID(cameraID);
    if (microphone)
        devices.setMicrophoneID(microphoneID);
    if (countdown)
        recorder.useCountdownSeconds(*countdown); // for this run only
    if (size)
        recorder.setPreferredVideoSize(*size);

    recorder.activate(&library); // finishes interrupted recordings first
    if (recorder.errorMessage())
        throw Error(*recorder.errorMessage());
    if (recorder.videoInfo())
        printError(QStringLiteral("camera %1").arg(*recorder.videoInfo()));

    QEventLoop loop;
    std::optional<Take> finished;
    QObject::connect(&recorder, &RecorderModel::takeFinished, &loop, [&](const Take& take) {
        finished = take;
        loop.quit();
    });
    QObject::connect(&recorder, &RecorderModel::recordingAbandoned, &loop, &QEventLoop::quit);
    QObject::connect(&recorder, &RecorderModel::stateChanged, &loop, [&] {
        const RecorderState& state = recorder.state();
        if (state.kind == RecorderState::Kind::countdown)
            printError(QString::number(state.remaining));
        else if (state.kind == RecorderState::Kind::recording)
            printError(QStringLiteral("recording"));
        else if (state.kind == RecorderState::Kind::idle && recorder.errorMessage())
            loop.quit(); // the recording could not start
    });
    // A failure to start (no take folder, say) comes while the state stays idle.
    QObject::connect(&recorder, &RecorderModel::errorMessageChanged, &loop, [&] {
        if (recorder.state().kind == RecorderState::Kind::idle && recorder.errorMessage())
            loop.quit();
    });

    // The meters have read the microphone's channels once; then the inputs are ticked.
    std::optional<QString> wrongInputs;
    QTimer::singleShot(150, &loop, [&] {
        if (inputs) {
            std::vector<ChannelMix> mix = recorder.channels();
            for (const int input : *inputs)
                if (input > int(mix.size())) {
                    wrongInputs = QStringLiteral("record: --inputs: the microphone has %1 "
                                                 "inputs, not %2")
                                      .arg(mix.size())
                                      .arg(input);
                    loop.quit();
                    return;
                }
            for (size_t c = 0; c < mix.size(); ++c)
                mix[c].enabled = inputs->contains(int(c) + 1);
            recorder.setChannels(mix);
        }
        recorder.toggleRecording(library);
    });

    // Elapsed time each second; the end after N seconds or on SIGINT/SIGTERM, like the key.
    QTimer clock;
    clock.setInterval(50);
    qint64 lastShown = -1;
    bool stopAsked = false;
    QObject::connect(&clock, &QTimer::timeout, &loop, [&] {
        const RecorderState& state = recorder.state();
        if (stop.stop_requested() && state.kind == RecorderState::Kind::countdown) {
            recorder.toggleRecording(library);
            loop.quit();
            return;
        }
        if (stop.stop_requested() && state.kind == RecorderState::Kind::idle) {
            loop.quit(); // nothing is being recorded: a stop ends the command at once
            return;
        }
        if (state.kind != RecorderState::Kind::recording || stopAsked)
            return;
        const qint64 ms = state.since.msecsTo(QDateTime::currentDateTime());
        if (ms / 1000 != lastShown) {
            lastShown = ms / 1000;
            printError(elapsedText(ms));
        }
        if (stop.stop_requested() || (seconds > 0 && double(ms) >= seconds * 1000)) {
            stopAsked = true;
            recorder.toggleRecording(library);
        }
    });
    clock.start();
    loop.exec();

    if (wrongInputs)
        throw UsageError{*wrongInputs};
    if (!finished) {
        if (recorder.errorMessage())
            throw Error(*recorder.errorMessage());
        throw Cancelled();
    }
    const RecordingResult& result = recorder.lastResult();
    if (result.requestedAtNs > 0 && result.firstFrameWrittenNs > 0)
        printError(QStringLiteral("first picture taken %1 ms and encoded %2 ms after the record "
                                  "action")
                       .arg((result.startTimeNs - result.requestedAtNs) / 1000000)
                       .arg((result.firstFrameWrittenNs - result.requestedAtNs) / 1000000));
    printLine(finished->folder);
    printLine(jsonObject(
        {{QStringLiteral("duration"), jsonNumber(finished->info.duration)},
         {QStringLiteral("audioChannelCount"),
          jsonNumber(double(recorder.lastResult().audioChannelCount))},
         {QStringLiteral("droppedFrames"), jsonNumber(double(recorder.lastResult().droppedFrames))},
         {QStringLiteral("lostSoundFrames"),
          jsonNumber(double(recorder.lastResult().lostSoundFrames))}}));
    if (recorder.errorMessage())
        printError(QStringLiteral("reelbox-cli: %1").arg(*recorder.errorMessage()));
    return recorder.errorMessage() ? failure : success;
}

} // namespace reelbox::cli
