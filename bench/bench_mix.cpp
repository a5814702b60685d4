// The offline mix of 8 tracks: every track with the EQ (low cut and all bands), the
// compressor and limiter, and a reverb send into one of two rooms; normalize on.
//
//   bench-mix --make-stems DIR SECONDS   writes DIR/stem-0.caf … stem-7.caf (mono, 48 kHz)
//   bench-mix DIR SECONDS [OUT.caf]      renders the mix once, prints the wall time and the
//                                        peak memory against the budget
//   bench-mix --ffmpeg-graph             the ffmpeg filter graph doing comparable work
//
// Peak memory is the process's maximum resident set size (as `/usr/bin/time -v` reports
// it). The budget is the mix (2 × total × 4 bytes), one bus per room (2 × total × 4 each)
// and one track's buffer (total × 4), plus 10 %. bench/compare-mix.sh runs it against ffmpeg.

#include "audio/AudioProcessor.h"
#include "audio/MixSteps.h"
#include "platform/SampleRate.h"
#include "platform/media/AudioFile.h"

#include <QDir>
#include <QString>
#include <QUuid>

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

using namespace reelbox;

namespace {

constexpr int rate = audioSampleRate;
constexpr int trackCount = 8;
constexpr int roomCount = 2;
constexpr std::array<ReverbRoom, roomCount> rooms = {ReverbRoom::hall, ReverbRoom::plate};

QString stemPath(const QString& dir, int track) {
    return QDir(dir).filePath(QStringLiteral("stem-%1.caf").arg(track));
}

// The settings of track k: all EQ bands on, compressor on, a send into one of the two rooms.
Track benchTrack(int k) {
    Track t;
    t.id = QUuid::createUuid();
    t.name = QStringLiteral("Track %1").arg(k + 1);
    t.volumeDB = -3.0 - 0.5 * k;
    t.pan = -0.75 + 1.5 * k / (trackCount - 1);
    TrackEffects& e = t.effects;
    e.eqEnabled = true;
    e.lowCut = true;
    e.lowGain = 3.0 - 0.5 * k;
    e.midGain = -4.0 + k;
    e.midFrequency = 500 + 150 * k;
    e.highGain = 2.0 + 0.25 * k;
    e.compressorEnabled = true;
    e.compression = 0.3 + 0.05 * k;
    e.reverbSend = 0.15 + 0.05 * k;
    e.reverbRoom = rooms[size_t(k % roomCount)];
    return t;
}

// Music-like content: a melody of harmonic notes with a plucked envelope on a pitch of its
// own per track, a little noise, and now and then a hard accent that drives the limiter.
void makeStem(const QString& path, int track, qint64 frames) {
    std::mt19937 generator(std::uint32_t(1234 + track));
    std::uniform_real_distribution<double> uniform(-1, 1);
    std::uniform_int_distribution<int> degree(0, 7);
    static constexpr int scale[] = {0, 2, 4, 5, 7, 9, 11, 12};
    const double root = 55.0 * std::pow(2.0, track / 2.0); // 55 Hz … 622 Hz

    AudioFileWriter writer(path, 1, rate);
    std::vector<float> chunk(static_cast<size_t>(rate));
    qint64 noteLeft = 0;
    double c1 = 0, s1 = 0, c2 = 0, s2 = 0, c3 = 0, s3 = 0; // rotation per harmonic
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0, x3 = 0, y3 = 0; // phasors
    double decay = 1, attack = 0, level = 0.5;
    for (qint64 done = 0; done < frames;) {
        const qint64 n = std::min<qint64>(qint64(chunk.size()), frames - done);
        for (qint64 i = 0; i < n; ++i) {
            if (noteLeft == 0) {
                noteLeft = rate / 8 * (1 + int(generator() % 4)); // 125 … 500 ms
                const double f = root * std::pow(2.0, scale[degree(generator)] / 12.0);
                const double w = 2 * std::numbers::pi * f / rate;
                c1 = std::cos(w), s1 = std::sin(w);
                c2 = std::cos(2 * w), s2 = std::sin(2 * w);
                c3 = std::cos(3 * w), s3 = std::sin(3 * w);
                x1 = x2 = x3 = 1;
                y1 = y2 = y3 = 0;
                attack = 0;
                decay = std::exp(-1.0 / (0.25 * rate));
                level = (generator() % 16 == 0) ? 1.3 : 0.35 + 0.3 * (generator() % 100) / 100.0;
            }
            --noteLeft;
            attack = std::min(1.0, attack + 1.0 / 240); // 5 ms rise, then a 250 ms decay
            const double tone = y1 + 0.4 * y2 + 0.2 * y3;
            const double sample = level * attack * tone;
            level *= decay;
            chunk[size_t(i)] = float(sample / 1.6 + 0.01 * uniform(generator));
            const double nx1 = x1 * c1 - y1 * s1, ny1 = x1 * s1 + y1 * c1;
            const double nx2 = x2 * c2 - y2 * s2, ny2 = x2 * s2 + y2 * c2;
            const double nx3 = x3 * c3 - y3 * s3, ny3 = x3 * s3 + y3 * c3;
            x1 = nx1, y1 = ny1, x2 = nx2, y2 = ny2, x3 = nx3, y3 = ny3;
        }
        writer.write(chunk.data(), n);
        done += n;
    }
    writer.close();
}

double peakRssMB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) * 1024 / 1e6; // ru_maxrss is in KiB on Linux
}

// Filter graph for ffmpeg with the same tracks: per track the EQ bands, a compressor at the
// same threshold, attack, release and makeup, the limiter, constant-power pan; the sends
// into two multi-tap echoes standing in for the rooms; everything summed.
QString ffmpegGraph() {
    QString graph;
    std::array<QString, roomCount> sends;
    QString dry;
    for (int k = 0; k < trackCount; ++k) {
        const Track t = benchTrack(k);
        const TrackEffects& e = t.effects;
        const mix::StereoGain gain = mix::panGains(t.volumeDB, t.pan);
        const double c = e.compression;
        graph += QStringLiteral("[%1:a]highpass=f=80,lowshelf=f=120:g=%2,"
                                "equalizer=f=%3:t=o:w=1.2:g=%4,highshelf=f=6000:g=%5,"
                                "acompressor=threshold=%6:ratio=4:knee=%7:attack=8:release=200:"
                                "makeup=%8:detection=peak,"
                                "alimiter=limit=1:attack=5:release=24:level=0,"
                                "pan=stereo|c0=%9*c0|c1=%10*c0,asplit[d%1][s%1];")
                     .arg(k)
                     .arg(e.lowGain)
                     .arg(e.midFrequency)
                     .arg(e.midGain)
                     .arg(e.highGain)
                     .arg(std::pow(10.0, -35 * c / 20))
                     .arg(std::clamp(6 - 4 * c, 1.0, 8.0))
                     .arg(std::pow(10.0, 15.75 * c / 20))
                     .arg(double(gain.left), 0, 'g', 9)
                     .arg(double(gain.right), 0, 'g', 9);
        graph += QStringLiteral("[s%1]volume=%2[v%1];").arg(k).arg(e.reverbSend);
        dry += QStringLiteral("[d%1]").arg(k);
        sends[size_t(k % roomCount)] += QStringLiteral("[v%1]").arg(k);
    }
    const std::array<QString, roomCount> echoes = {
        QStringLiteral("aecho=1:0.9:23|41|67|97|131|173:0.5|0.42|0.35|0.28|0.22|0.16"),
        QStringLiteral("aecho=1:0.9:7|19|31|47|71|103:0.55|0.45|0.38|0.3|0.24|0.18")};
    for (int r = 0; r < roomCount; ++r)
        graph += QStringLiteral("%1amix=inputs=%2:normalize=0,%3[r%4];")
                     .arg(sends[size_t(r)])
                     .arg(trackCount / roomCount)
                     .arg(echoes[size_t(r)])
                     .arg(r);
    graph += QStringLiteral("%1[r0][r1]amix=inputs=%2:normalize=0[out]")
                 .arg(dry)
                 .arg(trackCount + roomCount);
    return graph;
}

int usage() {
    std::fprintf(stderr, "usage: bench-mix --make-stems DIR SECONDS\n"
                         "       bench-mix DIR SECONDS [OUT.caf]\n"
                         "       bench-mix --ffmpeg-graph\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && QString::fromLocal8Bit(argv[1]) == QStringLiteral("--ffmpeg-graph")) {
        std::printf("%s\n", qPrintable(ffmpegGraph()));
        return 0;
    }
    if (argc == 4 && QString::fromLocal8Bit(argv[1]) == QStringLiteral("--make-stems")) {
        const QString dir = QString::fromLocal8Bit(argv[2]);
        const double seconds = std::atof(argv[3]);
        QDir().mkpath(dir);
        for (int k = 0; k < trackCount; ++k)
            makeStem(stemPath(dir, k), k, qint64(std::llround(seconds * rate)));
        return 0;
    }
    if (argc != 3 && argc != 4)
        return usage();

    const QString dir = QString::fromLocal8Bit(argv[1]);
    const double seconds = std::atof(argv[2]);
    const QString out = argc == 4 ? QString::fromLocal8Bit(argv[3]) : QDir(dir).filePath("mix.caf");
    if (!(seconds > 0))
        return usage();

    std::vector<AudioProcessor::TrackInput> inputs;
    for (int k = 0; k < trackCount; ++k)
        inputs.push_back({stemPath(dir, k), 0, benchTrack(k), {}});
    const MasterSettings master{0, true};
    const SpanList spans{{0, seconds}};

    const double before = peakRssMB();
    const auto start = std::chrono::steady_clock::now();
    AudioProcessor::Analysis analysis;
    try {
        analysis = AudioProcessor::render(inputs, master, spans, out);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench-mix: %s\n", e.what());
        return 1;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const double total = double(mix::spanLengths(spans).front());
    const double budget = (2 + 2 * roomCount + 1) * total * 4 * 1.1 / 1e6;
    std::printf("mix of %d tracks × %.0f s (%.0f frames): %.3f s wall\n", trackCount, seconds,
                total, wall);
    std::printf("peak %.2f dBFS, normalize %+.2f dB\n", analysis.peakDB, analysis.normalizeGainDB);
    std::printf("peak RSS %.1f MB (%.1f MB before the render); budget %.1f MB\n", peakRssMB(),
                before, budget);
    return 0;
}
