#include "audio/dsp/TrackChain.h"
#include "SignalTools.h"
#include "audio/dsp/Compressor.h"
#include "audio/dsp/PeakLimiter.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace reelbox::dsp;
using namespace reelbox::dsp::test;

TEST(TrackChain, WithNothingOnTheSamplesStayUntouched) {
    const std::vector<float> input = noise(20000, 3.0, 15);
    std::vector<float> x = input;
    processTrackChain(x.data(), x.size(), nullptr, nullptr, sampleRate);
    EXPECT_EQ(std::memcmp(x.data(), input.data(), x.size() * sizeof(float)), 0);
}

TEST(TrackChain, RunsEqThenCompressorThenLimiter) {
    const std::vector<float> input = noise(30000, 2.0, 16);
    const EqualizerSettings eq{.lowCut = true, .lowGainDB = 3, .highGainDB = -2};
    const double compression = 0.6;

    std::vector<float> expected = input;
    Equalizer(sampleRate, eq).process(expected.data(), expected.size());
    Compressor(compression, sampleRate).process(expected.data(), expected.size());
    PeakLimiter(sampleRate).process(expected.data(), expected.size());
    std::vector<float> x = input;
    processTrackChain(x.data(), x.size(), &eq, &compression, sampleRate);
    EXPECT_EQ(x, expected);

    // Each part alone.
    std::vector<float> eqOnly = input;
    Equalizer(sampleRate, eq).process(eqOnly.data(), eqOnly.size());
    x = input;
    processTrackChain(x.data(), x.size(), &eq, nullptr, sampleRate);
    EXPECT_EQ(x, eqOnly);

    std::vector<float> dynamicsOnly = input;
    Compressor(compression, sampleRate).process(dynamicsOnly.data(), dynamicsOnly.size());
    PeakLimiter(sampleRate).process(dynamicsOnly.data(), dynamicsOnly.size());
    x = input;
    processTrackChain(x.data(), x.size(), nullptr, &compression, sampleRate);
    EXPECT_EQ(x, dynamicsOnly);
    EXPECT_LE(peak(x.data(), x.size()), 1.0f);
}
