// Waveform loading and filmstrips.
//   build/bin/bench-media
// The filmstrip benchmark reads the 10-minute fixture that bench/compare-stems.sh makes
// (or the movie named by REELBOX_BENCH_MOVIE).
#include "audio/Filmstrip.h"
#include "audio/Waveform.h"
#include "platform/media/AudioFile.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cmath>

using namespace reelbox;

namespace {

void BM_WaveformLoad10Minutes(benchmark::State& state) {
    QTemporaryDir dir;
    const QString stem = dir.filePath("stem.caf");
    {
        const qint64 frames = 48000LL * 600;
        std::vector<float> samples(static_cast<size_t>(frames));
        for (qint64 i = 0; i < frames; ++i)
            samples[size_t(i)] = 0.5f * std::sin(float(i % 48000) * 0.0575f);
        writeAudioFile(stem, {samples}, 48000);
    }
    const qint64 bytes = QFileInfo(stem).size();
    for (auto _ : state) {
        const Waveform w = Waveform::load(stem, 0.25);
        if (w.peaks.size() != 60025)
            state.SkipWithError("wrong peak count");
        benchmark::DoNotOptimize(w.peaks.data());
    }
    state.SetBytesProcessed(state.iterations() * bytes);
}
BENCHMARK(BM_WaveformLoad10Minutes)->Unit(benchmark::kMillisecond);

void BM_Filmstrip24Frames(benchmark::State& state) {
    QString movie = qEnvironmentVariable("REELBOX_BENCH_MOVIE");
    if (movie.isEmpty())
        movie = QStringLiteral("build/bench-fixtures/stems-600s-8ch.mov");
    if (!QFileInfo::exists(movie)) {
        state.SkipWithError("no fixture movie: run bench/compare-stems.sh first");
        return;
    }
    for (auto _ : state) {
        const auto images = Filmstrip::frames(movie, 24, 48);
        if (images.size() != 24)
            state.SkipWithError("fewer than 24 frames");
        benchmark::DoNotOptimize(images.data());
    }
}
BENCHMARK(BM_Filmstrip24Frames)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
