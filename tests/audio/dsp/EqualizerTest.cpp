#include "audio/dsp/Equalizer.h"
#include "SignalTools.h"

#include <gtest/gtest.h>

using namespace reelbox::dsp;
using namespace reelbox::dsp::test;

namespace {

double designDB(const EqualizerSettings& settings, double frequencyHz) {
    return Equalizer(sampleRate, settings).magnitudeDB(frequencyHz);
}

} // namespace

TEST(EqualizerDesign, EachBandAtItsDefiningPoints) {
    const double upperEdge = std::pow(2.0, 0.6); // 1.2 octaves between the half-gain points
    const EqualizerSettings mid3k{.midGainDB = 6, .midFrequencyHz = 3000};
    const EqualizerSettings mid22k{.midGainDB = 12, .midFrequencyHz = 22000};
    struct Point {
        const char* what;
        EqualizerSettings settings;
        double frequencyHz, expectedDB, tolerance;
    };
    const Point points[] = {
        {"low shelf, full gain", {.lowGainDB = 9}, 1e-3, 9.0, 1e-6},
        {"low shelf, half at the corner", {.lowGainDB = 9}, 120, 4.5, 1e-6},
        {"low shelf, nothing up high", {.lowGainDB = 9}, 20000, 0.0, 0.01},
        {"high shelf, full gain", {.highGainDB = -7.5}, sampleRate / 2, -7.5, 1e-6},
        {"high shelf, half at the corner", {.highGainDB = -7.5}, 6000, -3.75, 1e-6},
        {"high shelf, nothing down low", {.highGainDB = -7.5}, 20, 0.0, 1e-3},
        {"low cut, -3 dB at 80 Hz", {.lowCut = true}, 80, -3.0103, 1e-3},
        {"low cut, 12 dB per octave", {.lowCut = true}, 20, -24.1, 0.2},
        {"low cut, mids kept", {.lowCut = true}, 1000, 0.0, 0.01},
        {"mid at 250 Hz, centre", {.midGainDB = 6, .midFrequencyHz = 250}, 250, 6.0, 1e-6},
        {"mid at 800 Hz, centre", {.midGainDB = 6}, 800, 6.0, 1e-6},
        {"mid at 800 Hz, lower edge", {.midGainDB = 6}, 800 / upperEdge, 3.0, 0.1},
        {"mid at 800 Hz, upper edge", {.midGainDB = 6}, 800 * upperEdge, 3.0, 0.1},
        {"mid at 3 kHz, lower edge", mid3k, 3000 / upperEdge, 3.0, 0.1},
        {"mid at 3 kHz, upper edge", mid3k, 3000 * upperEdge, 3.0, 0.1},
        {"mid cut mirrors the boost",
         {.midGainDB = -6, .midFrequencyHz = 3000},
         3900,
         -designDB(mid3k, 3900),
         1e-9},
        {"mid, nothing at DC", mid3k, 1e-3, 0.0, 1e-6},
        {"mid, nothing at Nyquist", {.midGainDB = 6}, sampleRate / 2, 0.0, 1e-6},
        // Centres near Nyquist stay a band up high instead of lifting everything.
        {"mid at 22 kHz, 1 kHz", mid22k, 1000, 0.0, 0.25},
        {"mid at 22 kHz, 100 Hz", mid22k, 100, 0.0, 0.01},
        {"mid at 23.9 kHz, 1 kHz", {.midGainDB = 12, .midFrequencyHz = 23900}, 1000, 0.0, 0.25},
        {"mid at 1 MHz, 1 kHz", {.midGainDB = 12, .midFrequencyHz = 1e6}, 1000, 0.0, 0.25},
    };
    for (const Point& p : points)
        EXPECT_NEAR(designDB(p.settings, p.frequencyHz), p.expectedDB, p.tolerance) << p.what;
}

TEST(EqualizerProcessing, ImpulseResponseMatchesTheDesignAtTwentyFrequencies) {
    const EqualizerSettings cases[] = {
        {.lowCut = true, .lowGainDB = 6, .midGainDB = -4, .midFrequencyHz = 800, .highGainDB = 3},
        {.lowGainDB = -12, .midGainDB = 12, .midFrequencyHz = 250, .highGainDB = -12},
        {.lowCut = true, .midGainDB = 9, .midFrequencyHz = 4000},
        {.lowGainDB = 3.5, .highGainDB = 10},
        {.midGainDB = 12, .midFrequencyHz = 22000},
        {.midGainDB = 12, .midFrequencyHz = 23999},
    };
    for (const EqualizerSettings& settings : cases) {
        Equalizer eq(sampleRate, settings);
        std::vector<float> ir = impulse(1 << 16);
        eq.process(ir.data(), ir.size());
        for (int i = 0; i < 20; ++i) { // 20 Hz … 20 kHz, evenly on a log scale
            const double f = 20 * std::pow(1000.0, i / 19.0);
            EXPECT_NEAR(responseDB(ir, f), eq.magnitudeDB(f), 0.1)
                << f << " Hz, low " << settings.lowGainDB << " mid " << settings.midGainDB << " at "
                << settings.midFrequencyHz;
        }
    }
}
