// Throughput of the effects on a minute of 48 kHz audio. "realtime" is seconds of audio per
// second of processing; 10 minutes of audio take 600 / realtime seconds.
//
//   build/bin/bench-dsp --benchmark_min_time=1
//
// A mix of 8 tracks x 10 minutes (EQ, compressor and limiter on each, two reverb rooms) is
// what MixEffects times, on one minute: multiply its time by 10.

#include "audio/dsp/Compressor.h"
#include "audio/dsp/Equalizer.h"
#include "audio/dsp/PeakLimiter.h"
#include "audio/dsp/Reverb.h"
#include "platform/SampleRate.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

using namespace reelbox::dsp;

namespace {

constexpr double sampleRate = reelbox::audioSampleRate;
constexpr std::size_t minute = 60 * reelbox::audioSampleRate;

// Something like a voice track: noise bursts at a syllable rate over a low tone, with
// occasional hard transients, peaking around 0 dBFS.
const std::vector<float>& trackSignal() {
    static const std::vector<float> signal = [] {
        std::vector<float> x(minute);
        std::mt19937 generator(42);
        std::uniform_real_distribution<float> uniform(-1, 1);
        for (std::size_t i = 0; i < x.size(); ++i) {
            const double t = double(i) / sampleRate;
            const double envelope = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 3.3 * t);
            x[i] = float(0.5 * envelope * uniform(generator) +
                         0.3 * std::sin(2 * std::numbers::pi * 220 * t));
            if (i % 24000 == 0)
                x[i] = 1.4f;
        }
        return x;
    }();
    return signal;
}

void setRealtime(benchmark::State& state, std::size_t framesPerIteration) {
    state.SetItemsProcessed(std::int64_t(state.iterations()) * std::int64_t(framesPerIteration));
    state.counters["realtime"] = benchmark::Counter(double(framesPerIteration) / sampleRate,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}

const EqualizerSettings allBands{
    .lowCut = true, .lowGainDB = 4, .midGainDB = -3, .midFrequencyHz = 900, .highGainDB = 3};

void Equalizer_AllBands(benchmark::State& state) {
    const std::vector<float>& source = trackSignal();
    std::vector<float> work(source.size());
    Equalizer eq(sampleRate, allBands);
    for (auto _ : state) {
        std::memcpy(work.data(), source.data(), source.size() * sizeof(float));
        eq.process(work.data(), work.size());
        benchmark::DoNotOptimize(work.data());
    }
    setRealtime(state, source.size());
}
BENCHMARK(Equalizer_AllBands)->Unit(benchmark::kMillisecond);

// A minute of silence after a loud minute (the EQ's state rings down into the subnormal
// range) must run as fast as Equalizer_AllBands.
void Equalizer_SilenceAfterLoud(benchmark::State& state) {
    const std::vector<float>& source = trackSignal();
    std::vector<float> work(source.size());
    Equalizer eq(sampleRate, allBands);
    for (auto _ : state) {
        state.PauseTiming();
        eq.reset();
        std::memcpy(work.data(), source.data(), source.size() * sizeof(float));
        eq.process(work.data(), work.size());
        std::fill(work.begin(), work.end(), 0.0f);
        state.ResumeTiming();
        eq.process(work.data(), work.size());
        benchmark::DoNotOptimize(work.data());
    }
    setRealtime(state, source.size());
}
BENCHMARK(Equalizer_SilenceAfterLoud)->Unit(benchmark::kMillisecond);

void Compressor_Only(benchmark::State& state) {
    const std::vector<float>& source = trackSignal();
    std::vector<float> work(source.size());
    Compressor compressor(0.4, sampleRate);
    for (auto _ : state) {
        std::memcpy(work.data(), source.data(), source.size() * sizeof(float));
        compressor.process(work.data(), work.size());
        benchmark::DoNotOptimize(work.data());
    }
    setRealtime(state, source.size());
}
BENCHMARK(Compressor_Only)->Unit(benchmark::kMillisecond);

void Limiter_Only(benchmark::State& state) {
    const std::vector<float>& source = trackSignal();
    std::vector<float> work(source.size());
    PeakLimiter limiter(sampleRate);
    for (auto _ : state) {
        std::memcpy(work.data(), source.data(), source.size() * sizeof(float));
        limiter.process(work.data(), work.size());
        benchmark::DoNotOptimize(work.data());
    }
    setRealtime(state, source.size());
}
BENCHMARK(Limiter_Only)->Unit(benchmark::kMillisecond);

void CompressorAndLimiter(benchmark::State& state) {
    const std::vector<float>& source = trackSignal();
    std::vector<float> work(source.size());
    Compressor compressor(0.4, sampleRate);
    PeakLimiter limiter(sampleRate);
    for (auto _ : state) {
        std::memcpy(work.data(), source.data(), source.size() * sizeof(float));
        compressor.reset();
        compressor.process(work.data(), work.size());
        limiter.process(work.data(), work.size());
        benchmark::DoNotOptimize(work.data());
    }
    setRealtime(state, source.size());
}
BENCHMARK(CompressorAndLimiter)->Unit(benchmark::kMillisecond);

// One track's whole chain, as the mixer runs it: EQ, compressor, limiter.
void TrackChain(benchmark::State& state) {
    const std::vector<float>& source = trackSignal();
    std::vector<float> work(source.size());
    for (auto _ : state) {
        std::memcpy(work.data(), source.data(), source.size() * sizeof(float));
        Equalizer eq(sampleRate, allBands);
        Compressor compressor(0.4, sampleRate);
        PeakLimiter limiter(sampleRate);
        eq.process(work.data(), work.size());
        compressor.process(work.data(), work.size());
        limiter.process(work.data(), work.size());
        benchmark::DoNotOptimize(work.data());
    }
    setRealtime(state, source.size());
}
BENCHMARK(TrackChain)->Unit(benchmark::kMillisecond);

void Reverb_Preset(benchmark::State& state) {
    const auto preset = static_cast<ReverbPreset>(state.range(0));
    const std::vector<float>& left = trackSignal();
    std::vector<float> right(left.rbegin(), left.rend());
    std::vector<float> outL(left.size()), outR(left.size());
    Reverb reverb(preset, sampleRate);
    for (auto _ : state) {
        reverb.process(left.data(), right.data(), outL.data(), outR.data(), left.size());
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
    }
    setRealtime(state, left.size());
}
BENCHMARK(Reverb_Preset)
    ->DenseRange(int(ReverbPreset::smallRoom), int(ReverbPreset::cathedral))
    ->Unit(benchmark::kMillisecond);

// A minute of silence, with the reverb fresh (0), ringing out after a loud second (1), or after
// a second so faint that its tail starts near the subnormal range (2): decaying state must
// cost no more than fresh silence does.
void Reverb_Silence(benchmark::State& state) {
    const auto preset = static_cast<ReverbPreset>(state.range(0));
    const int before = int(state.range(1));
    const std::size_t burst = reelbox::audioSampleRate;
    std::vector<float> excitation(trackSignal().begin(), trackSignal().begin() + burst);
    if (before == 2) {
        for (float& v : excitation)
            v *= 1e-33f;
    }
    const std::vector<float> silence(minute, 0.0f);
    std::vector<float> outL(minute), outR(minute);
    Reverb reverb(preset, sampleRate);
    for (auto _ : state) {
        state.PauseTiming();
        reverb.reset();
        if (before != 0)
            reverb.process(excitation.data(), excitation.data(), outL.data(), outR.data(), burst);
        state.ResumeTiming();
        reverb.process(silence.data(), silence.data(), outL.data(), outR.data(), minute);
        benchmark::DoNotOptimize(outL.data());
    }
    setRealtime(state, minute);
}
BENCHMARK(Reverb_Silence)
    ->ArgsProduct({{int(ReverbPreset::smallRoom), int(ReverbPreset::cathedral)}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

// The effects of a mix of 8 tracks and two rooms, on one minute (x10 for 10 minutes).
void MixEffects(benchmark::State& state) {
    const std::vector<float>& source = trackSignal();
    std::vector<float> work(source.size());
    std::vector<float> busL(source.size()), busR(source.size());
    for (auto _ : state) {
        for (int track = 0; track < 8; ++track) {
            std::memcpy(work.data(), source.data(), source.size() * sizeof(float));
            Equalizer eq(sampleRate, allBands);
            Compressor compressor(0.2 + 0.1 * track, sampleRate);
            PeakLimiter limiter(sampleRate);
            eq.process(work.data(), work.size());
            compressor.process(work.data(), work.size());
            limiter.process(work.data(), work.size());
            benchmark::DoNotOptimize(work.data());
        }
        for (ReverbPreset room : {ReverbPreset::mediumRoom, ReverbPreset::hall}) {
            std::memcpy(busL.data(), source.data(), source.size() * sizeof(float));
            std::memcpy(busR.data(), source.data(), source.size() * sizeof(float));
            Reverb reverb(room, sampleRate);
            reverb.process(busL.data(), busR.data(), busL.data(), busR.data(), busL.size());
            benchmark::DoNotOptimize(busL.data());
        }
    }
    setRealtime(state, source.size());
}
BENCHMARK(MixEffects)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
