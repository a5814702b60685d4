// reelbox-cli play: the editor's preview in real time through a sound output.
#include "CliTake.h"
#include "Commands.h"
#include "Output.h"

#include "edit/TakeEditorModel.h"
#include "model/TakeLibrary.h"
#include "platform/Error.h"
#include "platform/HostClock.h"
#include "platform/media/AudioFile.h"
#include "platform/sound/SoundDevice.h"
#include "platform/sound/SoundSystem.h"
#include "play/Player.h"
#include "play/SampleRing.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <chrono>
#include <cmath>
#include <optional>

namespace reelbox::cli {

namespace {

double seconds(const QString& text, const char* option) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value < 0 || value > 86400)
        throw UsageError{QStringLiteral("%1 needs seconds between 0 and 86400").arg(option)};
    return value;
}

// A folder the command fills for a while beside its destination: removed with what it holds
// unless it was moved there.
class ScratchFolder {
public:
    explicit ScratchFolder(const QString& destination)
        : m_path(ScratchFile::besideName(destination)) {
        if (!QDir().mkpath(m_path))
            throw Error(QStringLiteral("can't create %1").arg(destination));
    }
    ~ScratchFolder() {
        if (!m_path.isEmpty())
            QDir(m_path).removeRecursively();
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const QString& path() const { return m_path; }

    // Its files into `destination` (made when missing), then it goes.
    void moveTo(const QString& destination) {
        if (!QDir().mkpath(destination))
            throw Error(QStringLiteral("can't create %1").arg(destination));
        const QDir from(m_path), to(destination);
        for (const QString& name : from.entryList(QDir::Files)) {
            QFile::remove(to.filePath(name));
            if (!QFile::rename(from.filePath(name), to.filePath(name)))
                throw Error(QStringLiteral("can't move the pictures into %1").arg(destination));
        }
        QDir(m_path).removeRecursively();
        m_path.clear();
    }

private:
    QString m_path;
};

} // namespace

int runPlay(const Arguments& args, const std::stop_token& stop) {
    std::optional<double> from, length;
    if (const auto text = args.value(QStringLiteral("from")))
        from = seconds(*text, "--from");
    if (const auto text = args.value(QStringLiteral("seconds")))
        length = seconds(*text, "--seconds");
    QString outputId = args.value(QStringLiteral("output"), {});
    const QString recordPath = args.value(QStringLiteral("record-output"), {});
    const QString framesDir = args.value(QStringLiteral("frames"), {});
    if (!recordPath.isEmpty()) {
        if (audioFileFormatFor(recordPath) != AudioFileFormat::caf)
            throw UsageError{QStringLiteral("--record-output writes a .caf file")};
        refuseProtectedOutput(recordPath, QStringLiteral("play"));
    }
    if (!framesDir.isEmpty())
        refuseProtectedOutput(framesDir, QStringLiteral("play"));
    const Take take = loadTake(args.positional(0));
    // The pictures and the recording are written beside their destinations and moved there at
    // the end: a stopped or failed play leaves neither.
    std::optional<ScratchFolder> frames;
    if (!framesDir.isEmpty())
        frames.emplace(framesDir);

    SoundSystem sound;
    const bool outputChosen = !outputId.isEmpty();
    if (outputId.isEmpty() && (qEnvironmentVariable("REELBOX_VIRTUAL_DEVICES") == u"1" ||
                               sound.outputs().empty() || sound.defaultOutputId().isEmpty()))
        outputId = testOutputId();
    TakeLibrary library(QFileInfo(take.folder).absolutePath());
    TakeEditorModel model(take, &library, sound, outputId);
    Player& player = *model.player();
    if (!player.outputProblem().isEmpty()) {
        if (outputChosen) // what was asked for can't be done
            throw Error(QStringLiteral("can't play through \"%1\": %2")
                            .arg(outputId, player.outputProblem()));
        printError(QStringLiteral("reelbox-cli: playing silently: %1").arg(player.outputProblem()));
    }

    const auto waitUntil = [&](const std::function<bool()>& done) {
        while (!done()) {
            if (stop.stop_requested())
                throw Cancelled();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
    };
    waitUntil([&] { return model.isIdle() && player.status() != Player::Status::loading; });
    if (player.status() == Player::Status::failed)
        throw Error(model.errorMessage().value_or(player.errorString()));
    if (model.errorMessage())
        throw Error(*model.errorMessage());

    if (from) {
        const SpanList kept = model.take().info.edit.keptSpans(model.sourceDuration());
        const double editEnd = kept.empty() ? 0 : kept.back().end;
        if (*from >= editEnd)
            throw UsageError{QStringLiteral("--from %1 is at or past the end of the edit (%2 s)")
                                 .arg(*from)
                                 .arg(editEnd)};
        model.seek(*from);
    } else
        model.jumpToStart();
    waitUntil([&] { return !model.isSeeking(); });
    const double startOutput = model.outputTime();
    const double end =
        length ? std::min(player.duration(), startOutput + *length) : player.duration();

    auto ring = std::make_shared<SampleRing>(size_t(soundSampleRate) * 2 * 4);
    std::unique_ptr<AudioFileWriter> recording;
    std::optional<ScratchFile> recordingFile;
    if (!recordPath.isEmpty()) {
        recordingFile.emplace(ScratchFile::besideName(recordPath));
        recording = std::make_unique<AudioFileWriter>(recordingFile->path(), 2, soundSampleRate);
        player.setOutputTap(ring);
    }
    std::vector<float> drained(size_t(soundSampleRate) * 2);
    qint64 recordedFrames = 0;
    const qint64 wantedFrames = std::llround((end - startOutput) * soundSampleRate);
    const auto drain = [&] {
        if (!recording)
            return;
        for (;;) {
            const size_t n = ring->pop(drained.data(), drained.size());
            if (n == 0)
                break;
            const qint64 frames = std::min<qint64>(qint64(n / 2), wantedFrames - recordedFrames);
            if (frames > 0) {
                recording->write(drained.data(), frames);
                recordedFrames += frames;
            }
        }
    };

    int framesWritten = 0;
    QObject::connect(&player, &Player::framePresented, &player, [&](const QImage& image) {
        if (framesDir.isEmpty() || !player.isPlaying())
            return;
        const qint64 first = player.firstHeardHostNs();
        if (first == 0)
            return;
        const qint64 ms = (hostNowNs() - first) / 1'000'000;
        const QImage small =
            image.width() > 320 ? image.scaledToWidth(320, Qt::SmoothTransformation) : image;
        if (small.save(QDir(frames->path()).filePath(QStringLiteral("%1.jpg").arg(ms)), "JPEG", 85))
            ++framesWritten;
    });

    model.play();
    QElapsedTimer report;
    report.start();
    bool started = false;
    waitUntil([&] {
        drain();
        started = started || player.isPlaying();
        const double now = player.currentTime();
        if (report.elapsed() >= 250) {
            report.restart();
            printError(QStringLiteral("playhead %1").arg(model.playhead(), 0, 'f', 3));
        }
        return started && (!player.isPlaying() || now >= end);
    });
    // What is still on its way to the device is recorded too.
    if (recording) {
        QElapsedTimer tail;
        tail.start();
        waitUntil([&] {
            drain();
            return recordedFrames >= wantedFrames || tail.elapsed() > 500;
        });
    }
    model.pause();
    player.setOutputTap(nullptr);
    drain();
    if (recording) {
        recording->close();
        recordingFile->moveTo(recordPath);
    }
    if (frames)
        frames->moveTo(framesDir);
    model.tearDown();
    printError(QStringLiteral("playhead %1").arg(model.playhead(), 0, 'f', 3));
    if (recording)
        printLine(recordPath);
    if (!framesDir.isEmpty())
        printLine(QStringLiteral("%1 pictures in %2").arg(framesWritten).arg(framesDir));
    return success;
}

} // namespace reelbox::cli
