#include "capture/RecordingRecovery.h"

#include "model/TakeInfoCodec.h"
#include "platform/Error.h"
#include "platform/media/MovieInfo.h"
#include "platform/media/MovieRepair.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>
#include <algorithm>

namespace reelbox::RecordingRecovery {

QString recordPath(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("recording.json"));
}

QString lockPath(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("recording.lock"));
}

void writeRecord(const QString& folder, const TakeInfo& info) {
    const QByteArray bytes = encodeTakeInfo(info);
    QSaveFile file(recordPath(folder));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
        file.write(bytes) != bytes.size() || !file.commit())
        throw Error(QStringLiteral("Couldn't write \"%1\": %2")
                        .arg(recordPath(folder), file.errorString()));
}

void removeRecord(const QString& folder) {
    QFile::remove(recordPath(folder));
    QFile::remove(lockPath(folder));
}

Take finishFromMovie(TakeLibrary& library, const QString& folder, const QString& nameSuffix) {
    Take take;
    take.folder = folder;
    QFile recordFile(recordPath(folder));
    if (recordFile.open(QIODevice::ReadOnly)) {
        try {
            take.info = decodeTakeInfo(recordFile.readAll());
        } catch (const Error&) {
            // An unreadable record: the movie alone says enough.
        }
    }
    if (take.info.name.isEmpty())
        take.info.name = QStringLiteral("Take ") + QFileInfo(folder).fileName();
    if (!take.info.createdAt.isValid())
        take.info.createdAt = QFileInfo(folder).birthTime().toUTC();
    if (!take.info.createdAt.isValid())
        take.info.createdAt = QDateTime::currentDateTimeUtc();

    const QString movie = take.moviePath();
    const QString nothing = QStringLiteral("\"%1\" holds no recording.").arg(movie);
    if (!QFileInfo::exists(movie))
        throw NothingRecorded(nothing);
    try {
        readMovieHeaderDurations(movie);
    } catch (const Error&) {
        QFile readable(movie);
        if (readable.open(QIODevice::ReadOnly))
            throw NothingRecorded(nothing); // no movie header
        throw;
    }
    repairFragmentedMovie(movie);
    MovieInfo info;
    try {
        info = probeMovie(movie);
    } catch (const Error&) {
        throw NothingRecorded(nothing);
    }
    double duration = info.durationSeconds;
    if (!info.video.empty())
        duration = info.video.front().durationSeconds;
    // The sound was held back a little for the cut at the stop: an interrupted take ends
    // where both picture and sound are.
    if (!info.video.empty() && !info.audio.empty() && info.audio.front().durationSeconds > 0)
        duration = std::min(duration, info.audio.front().durationSeconds);
    if (!(duration > 0))
        throw NothingRecorded(nothing);
    const int channels = info.audio.empty() ? 0 : info.audio.front().channelCount;

    take.info.name += nameSuffix;
    take.info.duration = duration;
    // Tracks of channels the movie lacks mean the device changed: one track per channel.
    const bool fits =
        std::all_of(take.info.tracks.begin(), take.info.tracks.end(), [&](const Track& track) {
            return track.source.isInput() && track.source.channel < channels;
        });
    if (!fits)
        take.info.tracks = TakeInfo::tracksFrom(
            std::vector<ChannelMix>(size_t(channels), ChannelMix{true, 0, 0}), TrackEffects());
    library.save(take);
    QFile::remove(recordPath(folder)); // take.json read back: the record has done its work
    return take;
}

RecoveryReport recoverAll(TakeLibrary& library) {
    RecoveryReport report;
    const QDir root(library.root());
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString folder = root.filePath(name);
        if (!QFileInfo::exists(recordPath(folder)) ||
            QFileInfo::exists(QDir(folder).filePath(QStringLiteral("take.json"))))
            continue;
        QLockFile lock(lockPath(folder));
        if (!lock.tryLock(0)) {
            report.skipped.push_back(folder); // still recording, in another process
            continue;
        }
        try {
            const Take take = finishFromMovie(library, folder, QStringLiteral(" (recovered)"));
            lock.unlock(); // removes the lock file
            report.recovered.push_back(take);
        } catch (const NothingRecorded&) {
            lock.unlock();
            QDir(folder).removeRecursively(); // nothing of it can be played
            report.removed.push_back(folder);
        } catch (const Error& e) {
            lock.unlock();
            report.failed.push_back({folder, e.message()});
        }
    }
    if (!report.recovered.empty())
        library.reload();
    return report;
}

} // namespace reelbox::RecordingRecovery
