// The library's scan and the take.json decoder.
//   build/bin/bench-library
#include "model/TakeInfoCodec.h"
#include "model/TakeLibrary.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace reelbox;

namespace {

TakeInfo recordWithTracks(int trackCount, int index) {
    TakeInfo info;
    info.name = QStringLiteral("Take %1").arg(index);
    info.createdAt = QDateTime(QDate(2024, 1, 1), QTime(0, 0), Qt::UTC).addSecs(index * 61);
    info.duration = 180;
    std::vector<ChannelMix> channels(size_t(trackCount), ChannelMix{true, -3, 0});
    TrackEffects effects;
    effects.eqEnabled = true;
    effects.reverbSend = 0.3;
    info.tracks = TakeInfo::tracksFrom(channels, effects);
    info.edit.splits = {10, 20, 30};
    info.edit.cuts = {{12, 14}};
    for (const Track& t : info.tracks)
        info.edit.hidden[Lane::audio(t.id).key()] = {{40, 41}};
    return info;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        std::abort();
    file.write(bytes);
}

void BM_Reload1000Takes(benchmark::State& state) {
    QTemporaryDir dir;
    for (int i = 0; i < 1000; ++i) {
        const QString folder = dir.filePath(QStringLiteral("take %1").arg(i));
        QDir().mkpath(folder);
        writeFile(folder + "/take.json", encodeTakeInfo(recordWithTracks(8, i)));
        writeFile(folder + "/take.mov", {});
    }
    TakeLibrary library(dir.path(), dir.filePath("cache"));
    for (auto _ : state) {
        library.reload();
        benchmark::DoNotOptimize(library.takes().data());
    }
    if (library.takes().size() != 1000)
        state.SkipWithError("not every take was listed");
}
BENCHMARK(BM_Reload1000Takes)->Unit(benchmark::kMillisecond);

void BM_Decode64Tracks(benchmark::State& state) {
    const QByteArray json = encodeTakeInfo(recordWithTracks(64, 1));
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeTakeInfo(json));
    state.SetBytesProcessed(state.iterations() * json.size());
}
BENCHMARK(BM_Decode64Tracks)->Unit(benchmark::kMicrosecond);

void BM_Encode64Tracks(benchmark::State& state) {
    const TakeInfo info = recordWithTracks(64, 1);
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeTakeInfo(info));
}
BENCHMARK(BM_Encode64Tracks)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
