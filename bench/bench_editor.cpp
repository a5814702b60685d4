// How soon the editor's preview is ready after a mixer change, beside a full mix of the same
// take: a 3-minute take with 8 tracks, every effect on every track.
//
//   bench-editor [SECONDS]    makes the take in a temporary library, then prints the full
//                             mix time, the editor's times after a volume change and after
//                             an EQ change (150 ms wait included), their ratios, and the peak
//                             memory
#include "capture/SyntheticTake.h"
#include "edit/TakeEditorModel.h"
#include "edit/TakePipeline.h"
#include "model/TakeLibrary.h"
#include "play/Player.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <sys/resource.h>

using namespace reelbox;

namespace {

void waitIdle(TakeEditorModel& model) {
    while (!(model.isIdle() && model.player()->status() != Player::Status::loading)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

double msAfter(TakeEditorModel& model, const std::function<void()>& change) {
    QElapsedTimer clock;
    clock.start();
    change();
    waitIdle(model);
    return double(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? QString(argv[1]).toDouble() : 180;
    QTemporaryDir home;
    qputenv("XDG_CACHE_HOME", home.filePath("cache").toUtf8());
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

    // The full mix, as `reelbox-cli mix` does it once the stems exist.
    const QString cache = TakePipeline::cacheFolder(take);
    const auto stems = TakePipeline::extractStems(take, cache, {});
    // Each figure is the best of three, so a busy moment of the machine doesn't count.
    QElapsedTimer clock;
    double fullMs = 1e12;
    for (int i = 0; i < 3; ++i) {
        clock.restart();
        TakePipeline::mix(take, stems, take.info.edit.keptSpans(take.info.duration),
                          home.filePath("full.caf"));
        fullMs = std::min(fullMs, double(clock.nsecsElapsed()) / 1e6);
    }

    std::optional<TakeEditorModel> editor(std::in_place, take, &library);
    TakeEditorModel& model = *editor;
    waitIdle(model);
    const QUuid first = take.info.tracks[0].id;
    double volumeMs = 1e12, eqMs = 1e12;
    for (int i = 0; i < 3; ++i) {
        volumeMs = std::min(volumeMs, msAfter(model, [&] {
                                model.updateTrack(first, [i](Track& t) { t.volumeDB = -4 - i; });
                            }));
        eqMs = std::min(eqMs, msAfter(model, [&] {
                            model.updateTrack(first, [i](Track& t) { t.effects.midGain = 2 + i; });
                        }));
    }
    model.tearDown();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const double editorPeakMB = usage.ru_maxrss / 1024.0;

    editor.reset();

    // The mix alone with the editor's cache of processed tracks, after a fader move.
    AudioProcessor::TrackCache trackCache;
    const SpanList spans = take.info.edit.keptSpans(take.info.duration);
    TakePipeline::mix(take, stems, spans, home.filePath("cached.caf"), {}, {}, &trackCache);
    Take moved = take;
    moved.info.tracks[0].volumeDB = -4;
    clock.restart();
    TakePipeline::mix(moved, stems, spans, home.filePath("cached.caf"), {}, {}, &trackCache);
    const double cachedMixMs = double(clock.nsecsElapsed()) / 1e6;

    std::printf("take: %.0f s, 8 tracks, every effect on\n", seconds);
    std::printf("full mix:                 %8.1f ms\n", fullMs);
    std::printf("mix alone after volume:   %8.1f ms  (%.2f x the full mix)\n", cachedMixMs,
                cachedMixMs / fullMs);
    std::printf("preview after volume:     %8.1f ms  (%.2f x the full mix)\n", volumeMs,
                volumeMs / fullMs);
    std::printf("preview after one EQ:     %8.1f ms  (%.2f x the full mix)\n", eqMs, eqMs / fullMs);
    std::printf("peak memory (editor):     %8.1f MB\n", editorPeakMB);
    return 0;
}
