#include "audio/dsp/Reverb.h"
#include "SignalTools.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace reelbox::dsp;
using namespace reelbox::dsp::test;

namespace {

struct Room {
    ReverbPreset preset;
    const char* name;
    double rt60Seconds;
    double preDelaySeconds;
};

// The decay time (mid frequencies) and pre-delay each room is meant to have.
const Room rooms[] = {
    {ReverbPreset::smallRoom, "smallRoom", 0.4, 0.005},
    {ReverbPreset::mediumRoom, "mediumRoom", 0.7, 0.010},
    {ReverbPreset::largeRoom, "largeRoom", 1.2, 0.015},
    {ReverbPreset::hall, "hall", 1.8, 0.020},
    {ReverbPreset::largeHall, "largeHall", 2.6, 0.025},
    {ReverbPreset::plate, "plate", 1.6, 0.0},
    {ReverbPreset::cathedral, "cathedral", 4.5, 0.040},
};

struct Stereo {
    std::vector<float> left, right;
};

Stereo render(Reverb& reverb, const std::vector<float>& inL, const std::vector<float>& inR) {
    Stereo out{std::vector<float>(inL.size()), std::vector<float>(inL.size())};
    reverb.process(inL.data(), inR.data(), out.left.data(), out.right.data(), inL.size());
    return out;
}

// The response to a centred unit impulse: 1/√2 on each input.
Stereo impulseResponse(ReverbPreset preset, std::size_t count) {
    Reverb reverb(preset, sampleRate);
    const std::vector<float> centred = impulse(count, float(std::sqrt(0.5)));
    return render(reverb, centred, centred);
}

double energy(const std::vector<double>& x) {
    double sum = 0;
    for (double v : x)
        sum += v * v;
    return sum;
}

class ReverbRoom : public ::testing::TestWithParam<Room> {};

} // namespace

TEST_P(ReverbRoom, ImpulseResponseHasTheRoomsDecaySpreadLoudnessAndPreDelay) {
    const Room room = GetParam();
    const std::size_t count = framesOf(room.preDelaySeconds + 2 * room.rt60Seconds);
    const std::size_t tail = framesOf(room.preDelaySeconds + 0.05);
    const Stereo ir = impulseResponse(room.preset, count);
    const double in = energy(bandPass(impulse(count), 1000));
    for (const std::vector<float>* side : {&ir.left, &ir.right}) {
        const char* name = side == &ir.left ? "left" : "right";
        // T30 in the two octaves around 1 kHz.
        const std::vector<double> band = bandPass(*side, 1000);
        EXPECT_NEAR(schroederRT60(band), room.rt60Seconds, 0.15 * room.rt60Seconds) << name;
        // About -6 dB of energy in each output, so a send sounds as loud through every room.
        EXPECT_NEAR(10 * std::log10(energy(band) / in), -6.0, 1.0) << name;
    }
    // A centred source still gives two different tails.
    EXPECT_LT(std::fabs(correlation(ir.left.data() + tail, ir.right.data() + tail, count - tail)),
              0.5);

    // Noise on both inputs: the output before the pre-delay is silence.
    const std::size_t preDelay = framesOf(room.preDelaySeconds);
    const std::size_t n = preDelay + framesOf(0.5);
    const std::vector<float> noisy = noise(n, 0.5, 14);
    Reverb reverb(room.preset, sampleRate);
    const Stereo out = render(reverb, noisy, noisy);
    EXPECT_EQ(peak(out.left.data(), preDelay), 0.0f);
    EXPECT_EQ(peak(out.right.data(), preDelay), 0.0f);
    // The reverb itself begins within 3 ms of the pre-delay.
    EXPECT_GT(peak(out.left.data() + preDelay, framesOf(0.003)), 1e-3f);
    EXPECT_GT(peak(out.right.data() + preDelay, framesOf(0.003)), 1e-3f);
    // Wet only: no trace of the input itself in the output (for the plate, whose reverb
    // starts at once, as well).
    EXPECT_LT(std::fabs(correlation(out.left.data(), noisy.data(), n)), 0.1);
    EXPECT_LT(std::fabs(correlation(out.right.data(), noisy.data(), n)), 0.1);
}

TEST_P(ReverbRoom, RingsOutToExactSilenceWithoutSubnormals) {
    // A faint impulse reaches the bottom of the float range within two decay times; with
    // subnormals flushed the whole state then falls to exact zero.
    const Room room = GetParam();
    const std::size_t count = framesOf(room.preDelaySeconds + 3 * room.rt60Seconds + 1);
    Reverb reverb(room.preset, sampleRate);
    const Stereo out = render(reverb, impulse(count, 1e-33f), impulse(count, 1e-33f));
    for (const std::vector<float>* side : {&out.left, &out.right}) {
        for (float x : *side)
            ASSERT_NE(std::fpclassify(x), FP_SUBNORMAL);
        EXPECT_EQ(peak(side->data() + count - framesOf(1), framesOf(1)), 0.0f);
    }
    // Nothing is left anywhere inside: a new impulse sounds exactly as in a new reverb.
    const std::size_t n = framesOf(0.3);
    const Stereo again = render(reverb, impulse(n), impulse(n));
    Reverb fresh(room.preset, sampleRate);
    const Stereo expected = render(fresh, impulse(n), impulse(n));
    EXPECT_EQ(again.left, expected.left);
    EXPECT_EQ(again.right, expected.right);
}

INSTANTIATE_TEST_SUITE_P(Rooms, ReverbRoom, ::testing::ValuesIn(rooms),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Reverb, PlateKeepsItsHighsLongerThanARoom) {
    // Ratio of the decay time around 8 kHz to the one around 1 kHz.
    auto brightness = [](ReverbPreset preset, double rt60) {
        const Stereo ir = impulseResponse(preset, framesOf(1.5 * rt60));
        return schroederRT60(bandPass(ir.left, 8000)) / schroederRT60(bandPass(ir.left, 1000));
    };
    const double plate = brightness(ReverbPreset::plate, 1.6);
    const double room = brightness(ReverbPreset::largeRoom, 1.2);
    EXPECT_GT(plate, 0.8);
    EXPECT_LT(room, 0.7);
}
