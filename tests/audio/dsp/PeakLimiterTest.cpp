#include "audio/dsp/PeakLimiter.h"
#include "SignalTools.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace reelbox::dsp;
using namespace reelbox::dsp::test;

namespace {

std::vector<float> limited(std::vector<float> x) {
    PeakLimiter(sampleRate).process(x.data(), x.size());
    return x;
}

} // namespace

TEST(PeakLimiter, NothingEverExceedsTheCeiling) {
    std::vector<std::vector<float>> signals;
    signals.push_back(noise(96000, 8.0, 7));   // hot noise throughout
    signals.push_back(noise(50, 30.0, 8));     // shorter than the look-ahead
    signals.push_back(sine(48000, 3000, 4.0)); // steady loud tone
    std::vector<float> spikes(48000, 0.0f);    // isolated spikes after silence
    for (std::size_t i = 1000; i < spikes.size(); i += 3001)
        spikes[i] = (i % 2 ? 1.0f : -1.0f) * float(i) * 0.1f;
    spikes.front() = 50.0f;
    spikes.back() = -1e6f;
    signals.push_back(spikes);
    std::vector<float> bursts = sine(48000, 200, 0.5); // quiet tone with loud bursts
    for (std::size_t i = 10000; i < 10500; ++i)
        bursts[i] *= 12.0f;
    for (std::size_t i = 30000; i < 30003; ++i)
        bursts[i] = 7.0f;
    signals.push_back(bursts);

    for (std::size_t s = 0; s < signals.size(); ++s) {
        const std::vector<float> out = limited(signals[s]);
        EXPECT_LE(peak(out.data(), out.size()), 1.0f) << "signal " << s;
        // Limiting, not muting: the loudest sample lands right at the ceiling.
        EXPECT_GT(peak(out.data(), out.size()), 0.99f) << "signal " << s;
    }
}

TEST(PeakLimiter, LimitsWithGainNotByClipping) {
    // A steady loud tone comes out as the same tone, scaled to peak at the ceiling (away from
    // its ends, where the limiter ramps in and, with no more peaks ahead, lets go); at the ends
    // too every sample is its own input times a gain in (0, 1], which a shift of even one
    // frame would break.
    const std::vector<float> tone = sine(48000, 1000, 4.0);
    const std::vector<float> out = limited(tone);
    const float inPeak = peak(tone.data(), tone.size());
    for (std::size_t i = 0; i < tone.size(); ++i) {
        if (i >= framesOf(0.1) && i < tone.size() - framesOf(0.01)) {
            ASSERT_NEAR(out[i], tone[i] / inPeak, 1e-6f) << i;
        } else if (tone[i] != 0) {
            ASSERT_TRUE(out[i] / tone[i] > 0 && out[i] / tone[i] <= 1) << i;
        }
    }
}

TEST(PeakLimiter, ReductionStartsBeforeATransientAndReleasesAfterIt) {
    // A constant carrier, so output / input is the gain; one sample at 4.0 needs a gain of 0.25.
    const std::size_t at = framesOf(0.5);
    std::vector<float> input(framesOf(2.0), 0.5f);
    input[at] = 4.0f;
    const std::vector<float> output = limited(input);
    auto gain = [&](std::size_t i) { return double(output[i]) / input[i]; };
    const std::size_t lookAhead = framesOf(0.005);

    EXPECT_EQ(gain(at - lookAhead - 1), 1.0); // untouched before the look-ahead
    EXPECT_LT(gain(at - lookAhead + 1), 1.0); // the ramp starts 5 ms early
    EXPECT_NEAR(output[at], 1.0f, 1e-6f);     // the peak meets the ceiling
    double largestStep = 0;
    for (std::size_t i = 1; i < output.size(); ++i) {
        if (i != at && i != at + 1)
            largestStep = std::max(largestStep, std::fabs(gain(i) - gain(i - 1)));
    }
    EXPECT_LE(largestStep, 0.75 / double(lookAhead) * 1.01); // no steps in the gain

    // Release: 1 - 1/e of the way back after about 24 ms (plus half the 5 ms ramp).
    std::size_t recovered = at + 1;
    while (gain(recovered) < 0.25 + 0.75 * (1 - std::exp(-1.0)))
        ++recovered;
    EXPECT_NEAR(double(recovered - at) / sampleRate, 0.024 + 0.0025, 0.002);
    EXPECT_EQ(gain(output.size() - 1), 1.0); // and eventually back to exactly 1
}
