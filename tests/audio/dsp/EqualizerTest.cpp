#include "audio/dsp/Equalizer.h"
#include "SignalTools.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace reelbox::dsp;
using namespace reelbox::dsp::test;

namespace {

double bandDB(const EqualizerSettings& settings, double frequencyHz) {
    return Equalizer(sampleRate, settings).magnitudeDB(frequencyHz);
}

} // namespace

// The design response against what the cookbook's filters must do at their defining points.
TEST(EqualizerDesign, ShelvesReachTheirGainAndHalfItAtTheCornerFrequency) {
    EqualizerSettings low;
    low.lowGainDB = 9;
    EXPECT_NEAR(bandDB(low, 1e-3), 9.0, 1e-6);
    EXPECT_NEAR(bandDB(low, 120), 4.5, 1e-6);
    EXPECT_NEAR(bandDB(low, 20000), 0.0, 0.01);

    EqualizerSettings high;
    high.highGainDB = -7.5;
    EXPECT_NEAR(bandDB(high, sampleRate / 2), -7.5, 1e-6);
    EXPECT_NEAR(bandDB(high, 6000), -3.75, 1e-6);
    EXPECT_NEAR(bandDB(high, 20), 0.0, 1e-3);
}

TEST(EqualizerDesign, PeakingBandHasItsGainAtTheCentreAndHalfAtTheBandEdges) {
    for (double centre : {250.0, 800.0, 3000.0}) {
        EqualizerSettings mid;
        mid.midFrequencyHz = centre;
        mid.midGainDB = 6;
        EXPECT_NEAR(bandDB(mid, centre), 6.0, 1e-6) << centre;
        EXPECT_NEAR(bandDB(mid, 1e-3), 0.0, 1e-6) << centre;
        EXPECT_NEAR(bandDB(mid, sampleRate / 2), 0.0, 1e-6) << centre;
        // 1.2 octaves between the half-gain points.
        EXPECT_NEAR(bandDB(mid, centre * std::pow(2.0, -0.6)), 3.0, 0.1) << centre;
        EXPECT_NEAR(bandDB(mid, centre * std::pow(2.0, 0.6)), 3.0, 0.1) << centre;
        // A cut mirrors the boost.
        mid.midGainDB = -6;
        EXPECT_NEAR(bandDB(mid, centre * 1.3),
                    -bandDB({.midGainDB = 6, .midFrequencyHz = centre}, centre * 1.3), 1e-9);
    }
}

TEST(EqualizerDesign, LowCutIsASecondOrderButterworthAt80Hz) {
    const EqualizerSettings cut{.lowCut = true};
    EXPECT_NEAR(bandDB(cut, 80), -3.0103, 1e-3);
    EXPECT_NEAR(bandDB(cut, 20), -24.1, 0.2); // 12 dB per octave below the corner
    EXPECT_NEAR(bandDB(cut, 1000), 0.0, 0.01);
    EXPECT_NEAR(bandDB(cut, 15000), 0.0, 1e-4);
}

TEST(EqualizerDesign, ChainResponseIsTheSumOfItsBands) {
    const EqualizerSettings all{
        .lowCut = true, .lowGainDB = 4, .midGainDB = -5, .midFrequencyHz = 1500, .highGainDB = 3};
    for (double f : testFrequencies()) {
        const double sum = bandDB({.lowCut = true}, f) + bandDB({.lowGainDB = 4}, f) +
                           bandDB({.midGainDB = -5, .midFrequencyHz = 1500}, f) +
                           bandDB({.highGainDB = 3}, f);
        EXPECT_NEAR(bandDB(all, f), sum, 1e-9) << f;
        EXPECT_NEAR(equalizerMagnitudeDB(all, sampleRate, f), sum, 1e-9) << f;
    }
}

// The processed signal against the design response.
TEST(EqualizerProcessing, ImpulseResponseMatchesTheDesignAtTwentyFrequencies) {
    const EqualizerSettings cases[] = {
        {.lowCut = true, .lowGainDB = 6, .midGainDB = -4, .midFrequencyHz = 800, .highGainDB = 3},
        {.lowCut = false,
         .lowGainDB = -12,
         .midGainDB = 12,
         .midFrequencyHz = 250,
         .highGainDB = -12},
        {.lowCut = true, .lowGainDB = 0, .midGainDB = 9, .midFrequencyHz = 4000, .highGainDB = 0},
        {.lowCut = false,
         .lowGainDB = 3.5,
         .midGainDB = 0,
         .midFrequencyHz = 800,
         .highGainDB = 10},
    };
    for (const EqualizerSettings& settings : cases) {
        Equalizer eq(sampleRate, settings);
        std::vector<float> ir = impulse(1 << 16);
        eq.process(ir.data(), ir.size());
        for (double f : testFrequencies())
            EXPECT_NEAR(responseDB(ir, f), eq.magnitudeDB(f), 0.1)
                << f << " Hz, low " << settings.lowGainDB << " mid " << settings.midGainDB;
    }
}

TEST(EqualizerProcessing, LowCutAttenuates20HzAndKeepsTheMids) {
    auto steadyPeakDB = [](bool lowCut, double frequencyHz) {
        Equalizer eq(sampleRate, {.lowCut = lowCut});
        std::vector<float> x = sine(framesOf(2.0), frequencyHz, 0.5);
        eq.process(x.data(), x.size());
        const std::size_t tail = framesOf(1.0);
        return toDB(peak(x.data() + x.size() - tail, tail) / 0.5);
    };
    EXPECT_LT(steadyPeakDB(true, 20), -23.0);
    EXPECT_NEAR(steadyPeakDB(true, 1000), 0.0, 0.05);
    EXPECT_NEAR(steadyPeakDB(false, 20), 0.0, 0.01);
}

TEST(EqualizerProcessing, FlatSettingsLeaveTheSamplesUntouched) {
    const std::vector<float> input = noise(10000, 4.0, 1);
    for (const EqualizerSettings& settings :
         {EqualizerSettings{}, EqualizerSettings{.midFrequencyHz = 3000}}) {
        Equalizer eq(sampleRate, settings);
        EXPECT_TRUE(eq.isIdentity());
        std::vector<float> x = input;
        eq.process(x.data(), x.size());
        EXPECT_EQ(std::memcmp(x.data(), input.data(), x.size() * sizeof(float)), 0);
    }
    EXPECT_FALSE(Equalizer(sampleRate, {.lowCut = true}).isIdentity());
    EXPECT_FALSE(Equalizer(sampleRate, {.highGainDB = 0.5}).isIdentity());
}

TEST(EqualizerProcessing, ConsecutiveBlocksContinueOneStream) {
    // One to four bands, in blocks from a single sample up.
    const EqualizerSettings cases[] = {
        {.lowCut = true},
        {.lowCut = false, .lowGainDB = 5, .midGainDB = -3, .midFrequencyHz = 600},
        {.lowCut = false, .lowGainDB = 5, .midGainDB = -3, .midFrequencyHz = 600, .highGainDB = 2},
        {.lowCut = true, .lowGainDB = 5, .midGainDB = -3, .midFrequencyHz = 600, .highGainDB = 2},
    };
    const std::vector<float> input = noise(20000, 1.0, 2);
    for (const EqualizerSettings& settings : cases) {
        std::vector<float> whole = input;
        Equalizer(sampleRate, settings).process(whole.data(), whole.size());

        std::vector<float> blocks = input;
        Equalizer eq(sampleRate, settings);
        std::size_t pos = 0, size = 1;
        while (pos < blocks.size()) {
            const std::size_t n = std::min(size, blocks.size() - pos);
            eq.process(blocks.data() + pos, n);
            pos += n;
            size = size < 8 ? size + 1 : size * 3 + 7;
        }
        EXPECT_EQ(blocks, whole) << "low cut " << settings.lowCut << ", high "
                                 << settings.highGainDB;

        // reset() starts a new stream.
        eq.reset();
        std::vector<float> again = input;
        eq.process(again.data(), again.size());
        EXPECT_EQ(again, whole);
    }
}
