// How soon the editor's preview is ready after a mixer change, beside a full mix of the same
// take: a 3-minute take with 8 tracks, every effect on every track.
//
//   bench-editor [SECONDS]    makes the take in a temporary library, then prints
//     - a full `reelbox-cli mix` of it (the command, run as a child, stems already made),
//     - `reelbox-cli edit` after a volume change and after an EQ change: settle's
//       milliseconds (which include the editor's 400 ms wait before saving take.json) and
//       previewMilliseconds (until the new preview is ready to play; 150 ms wait included),
//     - the same in this process, with the longest the main thread was kept from its events
//       meanwhile and the editor's peak memory,
//     - the longest the main thread was kept from its events while the editor played, rendered
//       a change and exported (the goal: 20 ms).
//   Each figure is the best of three, so a busy moment of the machine doesn't count.
#include "MainThreadWatch.h"
#include "capture/SyntheticTake.h"
#include "edit/TakeEditorModel.h"
#include "edit/TakePipeline.h"
#include "model/TakeLibrary.h"
#include "platform/sound/SoundDevice.h"
#include "platform/sound/SoundSystem.h"
#include "play/Player.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <sys/resource.h>

using namespace reelbox;

namespace {

constexpr int rounds = 3;

QString cli() {
    return QDir(QCoreApplication::applicationDirPath()).filePath("reelbox-cli");
}

QByteArray runCli(const QStringList& args, const QByteArray& input = {}) {
    QProcess process;
    process.start(cli(), args);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "reelbox-cli %s failed: %s\n", qPrintable(args.join(' ')),
                     process.readAllStandardError().constData());
        std::exit(1);
    }
    return process.readAllStandardOutput();
}

// Waits until the editor has loaded a preview newer than `completedBefore` into its player and
// the player is ready to play it; with `saved`, also until take.json is written.
double msUntilReady(TakeEditorModel& model, int completedBefore, const QElapsedTimer& clock,
                    bool saved) {
    while (!(model.counters().completed > completedBefore &&
             model.player()->status() == Player::Status::ready && (!saved || model.isIdle()))) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        QThread::usleep(200);
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

struct Timing {
    double preview = 1e12;
    double settled = 1e12;
};

Timing after(TakeEditorModel& model, const std::function<void()>& change) {
    const int before = model.counters().completed;
    QElapsedTimer clock;
    clock.start();
    change();
    Timing timing;
    timing.preview = msUntilReady(model, before, clock, false);
    timing.settled = msUntilReady(model, before, clock, true);
    return timing;
}

// Runs the events of the main thread until `done`.
void runUntil(const std::function<bool()>& done) {
    while (!done())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void keepBest(Timing& best, const Timing& t) {
    best.preview = std::min(best.preview, t.preview);
    best.settled = std::min(best.settled, t.settled);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? QString(argv[1]).toDouble() : 180;
    QTemporaryDir home;
    qputenv("XDG_CACHE_HOME", home.filePath("cache").toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    TakeLibrary library(home.filePath("library"), home.filePath("cache"));
    SyntheticTakeOptions options;
    options.seconds = seconds;
    options.channels = 8;
    options.size = QSize(160, 90);
    Take take = makeSyntheticTake(library, options);
    for (size_t i = 0; i < take.info.tracks.size(); ++i) {
        TrackEffects& e = take.info.tracks[i].effects;
        e.eqEnabled = e.lowCut = e.compressorEnabled = true;
        e.lowGain = 2, e.midGain = -3, e.highGain = 1.5;
        e.reverbSend = 0.3;
        e.reverbRoom = i % 2 ? ReverbRoom::plate : ReverbRoom::hall;
    }
    library.save(take);
    const QString cache = TakePipeline::cacheFolder(take);
    const auto stems = TakePipeline::extractStems(take, cache, {});
    const QString first = take.info.tracks[0].id.toString(QUuid::WithoutBraces);

    // The full mix, as the command does it.
    double cliMixMs = 1e12;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        runCli({"mix", take.folder, home.filePath("full.caf")});
        cliMixMs = std::min(cliMixMs, double(clock.nsecsElapsed()) / 1e6);
    }

    // The editor through the command line: settle's own figures.
    QByteArray script = "settle\n";
    for (int i = 0; i < rounds; ++i)
        script += QStringLiteral("track %1 volumeDB %2\nsettle\ntrack %1 midGain %3\nsettle\n")
                      .arg(first)
                      .arg(-4 - i)
                      .arg(2 + i)
                      .toUtf8();
    const QList<QByteArray> lines = runCli({"edit", take.folder, "-"}, script).split('\n');
    Timing cliVolume, cliEq;
    for (int i = 0; i < rounds; ++i)
        for (int which = 0; which < 2; ++which) {
            const QJsonObject o = QJsonDocument::fromJson(lines.value(1 + 2 * i + which)).object();
            keepBest(which ? cliEq : cliVolume,
                     {o["previewMilliseconds"].toDouble(1e12), o["milliseconds"].toDouble(1e12)});
        }

    // The full mix and the editor in this process.
    double fullMs = 1e12;
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        TakePipeline::mix(take, stems, take.info.edit.keptSpans(take.info.duration),
                          home.filePath("full.caf"));
        fullMs = std::min(fullMs, double(clock.nsecsElapsed()) / 1e6);
    }
    // The process's one sound system, for both editors.
    SoundSystem sound;
    Timing volume, eq;
    double worstMainMs = 0;
    {
        TakeEditorModel model(take, &library, sound, testOutputId());
        while (!(model.isIdle() && model.player()->status() == Player::Status::ready))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        const QUuid id = take.info.tracks[0].id;
        bench::MainThreadWatch watch;
        for (int i = 0; i < rounds; ++i) {
            keepBest(volume, after(model, [&] {
                         model.updateTrack(id, [i](Track& t) { t.volumeDB = -4 - i; });
                     }));
            keepBest(eq, after(model, [&] {
                         model.updateTrack(id, [i](Track& t) { t.effects.midGain = 2 + i; });
                     }));
        }
        worstMainMs = watch.worstMs();
        model.tearDown();
    }
    // Playing, a render while playing, then an export while playing.
    double worstPlayingMs = 0;
    {
        TakeEditorModel model(take, &library, sound, testOutputId());
        runUntil(
            [&] { return model.isIdle() && model.player()->status() == Player::Status::ready; });
        bench::MainThreadWatch watch;
        model.play();
        QElapsedTimer clock;
        clock.start();
        runUntil([&] { return clock.elapsed() > 1000; });
        model.updateTrack(take.info.tracks[0].id, [](Track& t) { t.effects.lowCut = false; });
        runUntil([&] { return model.isIdle(); });
        bool exported = false;
        model.exportTo(home.filePath("out.mp4"), [&](bool) { exported = true; });
        runUntil([&] { return exported; });
        model.pause();
        worstPlayingMs = watch.worstMs();
        model.tearDown();
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double editorPeakMB = usage.ru_maxrss / 1024.0;
    getrusage(RUSAGE_CHILDREN, &usage);
    const double childPeakMB = usage.ru_maxrss / 1024.0;

    std::printf("take: %.0f s, 8 tracks, every effect on\n", seconds);
    std::printf("reelbox-cli mix:                     %7.1f ms\n", cliMixMs);
    const auto line = [&](const char* what, double ms) {
        std::printf("%-36s %7.1f ms  (%.2f x reelbox-cli mix)\n", what, ms, ms / cliMixMs);
    };
    line("edit, volume: previewMilliseconds", cliVolume.preview);
    line("edit, volume: milliseconds (saved)", cliVolume.settled);
    line("edit, one EQ: previewMilliseconds", cliEq.preview);
    line("edit, one EQ: milliseconds (saved)", cliEq.settled);
    std::printf("in process, full mix:                %7.1f ms\n", fullMs);
    line("in process, volume: preview", volume.preview);
    line("in process, one EQ: preview", eq.preview);
    std::printf("main thread, longest pass while the editor worked: %.1f ms\n", worstMainMs);
    std::printf("main thread, longest pass while playing, rendering, exporting: %.1f ms "
                "(goal 20 ms)\n",
                worstPlayingMs);
    std::printf("peak memory: editor %.0f MB, largest command %.0f MB\n", editorPeakMB,
                childPeakMB);
    return 0;
}
