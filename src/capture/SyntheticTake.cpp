#include "capture/SyntheticTake.h"

#include "model/UuidString.h"
#include "platform/Cancellation.h"
#include "platform/media/MovieInfo.h"
#include "platform/media/MovieWriter.h"
#include "platform/virtual/TestCameraPattern.h"
#include "platform/virtual/TestMicrophoneSignal.h"

#include <QDir>
#include <QLocale>
#include <cmath>
#include <vector>

namespace reelbox {

void writeSyntheticMovie(const QString& path, double seconds, int channels, QSize size,
                         int frameRate, const std::stop_token& token) {
    MovieWriterSettings settings;
    settings.videoSize = size;
    settings.frameRate = frameRate;
    settings.audioChannels = channels;
    MovieWriter writer(path, settings);

    const TestMicrophoneSignal microphone(std::max(channels, 1));
    const qint64 totalAudio = qint64(std::llround(seconds * microphone.sampleRate()));
    const qint64 videoFrames = size.isEmpty() ? 0 : qint64(std::llround(seconds * frameRate));
    // Audio goes in step with the pictures, a frame's worth at a time.
    const qint64 chunk = microphone.sampleRate() / frameRate;
    std::vector<float> audio(size_t(chunk * std::max(channels, 1)));
    QImage picture(size.isEmpty() ? QSize(1, 1) : size, QImage::Format_RGB32);

    qint64 audioWritten = 0;
    const qint64 steps = std::max(videoFrames, (totalAudio + chunk - 1) / chunk);
    for (qint64 i = 0; i < steps; ++i) {
        throwIfCancelled(token);
        if (i < videoFrames) {
            TestCameraPattern::renderInto(picture, i, frameRate);
            writer.writeVideoFrame(picture, double(i) / frameRate);
        }
        if (channels > 0 && audioWritten < totalAudio) {
            const qint64 n = std::min(chunk, totalAudio - audioWritten);
            microphone.fill(audio.data(), audioWritten, n);
            writer.writeAudio(audio.data(), n, double(audioWritten) / microphone.sampleRate());
            audioWritten += n;
        }
    }
    writer.finish();
}

namespace {

// Removes a take folder that was never finished.
struct UnfinishedFolder {
    QString path;
    bool finished = false;
    ~UnfinishedFolder() {
        if (!finished && !path.isEmpty())
            QDir(path).removeRecursively();
    }
};

QDateTime nowInWholeSeconds() {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    return now.addMSecs(-now.time().msec());
}

} // namespace

Take makeSyntheticTake(TakeLibrary& library, const SyntheticTakeOptions& options,
                       const std::stop_token& token) {
    if (!(options.seconds > 0) || options.channels < 0 || options.overdubs < 0)
        throw Error(QStringLiteral("A synthetic take needs a positive length."));
    Take take;
    take.folder = library.makeNewTakeFolder();
    // The movies are written under their names, as a recording writes them; the library lists
    // the folder only once take.json is saved, last.
    UnfinishedFolder unfinished{take.folder};
    writeSyntheticMovie(take.moviePath(), options.seconds, options.channels, options.size,
                        options.frameRate, token);

    TakeInfo& info = take.info;
    info.name = QStringLiteral("Take ") + QLocale().toString(QDateTime::currentDateTime(),
                                                             QStringLiteral("ddd d MMM, HH:mm"));
    info.createdAt = nowInWholeSeconds();
    info.duration = probeMovie(take.moviePath()).durationSeconds;
    info.cameraName = QStringLiteral("Test Camera");
    info.audioDeviceName = QStringLiteral("Test Microphone");
    info.tracks = TakeInfo::tracksFrom(
        std::vector<ChannelMix>(size_t(options.channels), ChannelMix{true, 0, 0}), TrackEffects());

    // Overdubs spread over the take, each with one channel of its own.
    for (int k = 0; k < options.overdubs; ++k) {
        Overdub overdub;
        overdub.id = QUuid::createUuid();
        overdub.fileName = uuidString(overdub.id) + QStringLiteral(".mov");
        overdub.createdAt = info.createdAt;
        overdub.start = options.seconds * (k + 1) / (options.overdubs + 2);
        const double length =
            std::max(0.5, std::min(options.seconds / 2, options.seconds - overdub.start));
        overdub.hasVideo = !options.audioOnlyOverdubs && !options.size.isEmpty();
        overdub.showVideo = true;
        QDir().mkpath(take.overdubsFolder());
        const QString path = QDir(take.overdubsFolder()).filePath(overdub.fileName);
        writeSyntheticMovie(path, length, 1, overdub.hasVideo ? options.size : QSize(),
                            options.frameRate, token);
        overdub.duration = probeMovie(path).durationSeconds;

        Track track;
        track.id = QUuid::createUuid();
        track.name = QStringLiteral("Overdub %1").arg(k + 1);
        track.source = Track::Source::overdub(overdub.id, 0);
        info.overdubs.push_back(overdub);
        info.tracks.push_back(track);
    }
    library.save(take);
    unfinished.finished = true;
    library.reload();
    return take;
}

} // namespace reelbox
