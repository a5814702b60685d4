#include "Commands.h"
#include "Output.h"

#include "model/TakeLibrary.h"
#include "platform/Error.h"

#include <QDir>
#include <QFile>

namespace reelbox::cli {
using reelbox::Error;

// Saves a record with two input tracks, one overdub with its own track and an edit, so the
// listing and the derived facts have something to show.
int runDemoRecord(const Arguments& args) {
    const QString root = args.value(QStringLiteral("root"), {});
    if (root.isEmpty())
        throw UsageError{QStringLiteral("demo-record needs --root")};

    TakeLibrary library(root);
    Take take;
    take.folder = library.makeNewTakeFolder();

    TakeInfo& info = take.info;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    info.name = QStringLiteral("Demo take");
    info.createdAt = now.addMSecs(-now.time().msec());
    info.duration = 12;
    info.cameraName = QStringLiteral("Test Camera");
    info.audioDeviceName = QStringLiteral("Test Microphone");
    info.tracks = TakeInfo::tracksFrom({{true, 0, 0}, {true, -3, 0}}, TrackEffects());

    Overdub overdub;
    overdub.id = QUuid::createUuid();
    overdub.fileName = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + ".mov";
    overdub.createdAt = info.createdAt;
    overdub.start = 9;
    overdub.nudge = -0.25;
    overdub.duration = 6;
    overdub.hasVideo = true;
    info.overdubs.push_back(overdub);
    Track sound;
    sound.id = QUuid::createUuid();
    sound.name = QStringLiteral("Overdub Sound");
    sound.source = Track::Source::overdub(overdub.id, 0);
    info.tracks.push_back(sound);

    info.edit.inPoint = 0.5;
    info.edit.splits = {4, 8};
    info.edit.cuts = {{4, 5.5}};
    info.edit.hidden[Lane::audio(info.tracks[1].id).key()] = {{2, 3}};

    // Stands in for the recorded movie until a real one is written.
    QFile movie(take.moviePath());
    if (!movie.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("can't write %1").arg(movie.fileName()));
    movie.close();

    library.save(take);
    printLine(take.folder);
    return success;
}

} // namespace reelbox::cli
