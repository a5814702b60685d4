// What every effect owes the mixer: samples left bit for bit when it has nothing to do, and
// the same output in one call, after reset(), or in blocks of any size.

#include "SignalTools.h"
#include "audio/dsp/Compressor.h"
#include "audio/dsp/Equalizer.h"
#include "audio/dsp/PeakLimiter.h"
#include "audio/dsp/Reverb.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace reelbox::dsp;
using namespace reelbox::dsp::test;

namespace {

// One mono stream through an effect; `reset` starts a new one.
struct Stream {
    std::function<void(float*, std::size_t)> process;
    std::function<void()> reset = [] {};
};

template <class Effect, class... Args> Stream streamOf(Args... args) {
    auto effect = std::make_shared<Effect>(args...);
    Stream stream{[effect](float* x, std::size_t n) { effect->process(x, n); }};
    if constexpr (requires { effect->reset(); })
        stream.reset = [effect] { effect->reset(); };
    return stream;
}

Stream eq(const EqualizerSettings& settings) {
    return streamOf<Equalizer>(sampleRate, settings);
}

// The reverb fed the same signal on both inputs; its left output replaces the samples.
Stream reverb(ReverbPreset preset) {
    auto effect = std::make_shared<Reverb>(preset, sampleRate);
    auto in = std::make_shared<std::vector<float>>(),
         right = std::make_shared<std::vector<float>>();
    return {[=](float* x, std::size_t n) {
                in->assign(x, x + n);
                right->resize(n);
                effect->process(in->data(), in->data(), x, right->data(), n);
            },
            [effect] { effect->reset(); }};
}

struct Case {
    const char* name;
    Stream stream;
    std::vector<float> input;
};

} // namespace

TEST(Effects, WithNothingToDoTheSamplesStayBitForBit) {
    std::vector<float> atCeiling = noise(96000, 1.0, 6);
    atCeiling[48000] = 1.0f; // exactly at the ceiling is not over it
    const Case cases[] = {
        {"flat EQ", eq({}), noise(10000, 4.0, 1)},
        {"flat EQ, mid moved", eq({.midFrequencyHz = 3000}), noise(10000, 4.0, 1)},
        {"compression 0, below full scale", streamOf<Compressor>(0.0, sampleRate),
         noise(48000, 0.999, 3)},
        {"limiter, nothing over", streamOf<PeakLimiter>(sampleRate), atCeiling},
        {"limiter, one sample", streamOf<PeakLimiter>(sampleRate), {0.5f}},
    };
    for (const Case& c : cases) {
        std::vector<float> x = c.input;
        c.stream.process(x.data(), x.size());
        EXPECT_EQ(x, c.input) << c.name;
    }
}

TEST(Effects, ResetAndBlocksOfAnySizeContinueOneStream) {
    const std::vector<float> input = noise(20000, 1.0, 2);
    std::vector<float> quietThenLoud = noise(40000, 0.02, 4);
    const std::vector<float> loud = noise(10000, 1.5, 5);
    std::copy(loud.begin(), loud.end(), quietThenLoud.begin() + 15000);
    const EqualizerSettings bands{.lowGainDB = 5, .midGainDB = -3, .midFrequencyHz = 600};
    const Case cases[] = {
        {"low cut", eq({.lowCut = true}), input},
        {"EQ, two bands", eq(bands), input},
        {"EQ, three bands", eq({.lowGainDB = 5, .midGainDB = -3, .highGainDB = 2}), input},
        {"EQ, four bands", eq({.lowCut = true, .lowGainDB = 5, .midGainDB = -3, .highGainDB = 2}),
         input},
        {"compressor", streamOf<Compressor>(0.7, sampleRate), quietThenLoud},
        {"reverb", reverb(ReverbPreset::hall), noise(30000, 0.5, 12)},
    };
    for (const Case& c : cases) {
        std::vector<float> whole = c.input;
        c.stream.process(whole.data(), whole.size());
        c.stream.reset();
        // Blocks of 1 … 8 samples first, then growing sizes.
        std::vector<float> blocks = c.input;
        for (std::size_t pos = 0, size = 1; pos < blocks.size();) {
            const std::size_t n = std::min(size, blocks.size() - pos);
            c.stream.process(blocks.data() + pos, n);
            pos += n;
            size = size < 8 ? size + 1 : size * 3 + 7;
        }
        EXPECT_EQ(blocks, whole) << c.name;
    }

    // The limiter looks ahead over the whole of each call, so it keeps nothing between calls.
    std::vector<float> fresh = quietThenLoud;
    PeakLimiter(sampleRate).process(fresh.data(), fresh.size());
    PeakLimiter limiter(sampleRate);
    std::vector<float> first = noise(20000, 5.0, 9), second = quietThenLoud;
    limiter.process(first.data(), first.size());
    limiter.process(second.data(), second.size());
    EXPECT_EQ(second, fresh);
}
