#include "platform/sound/LevelMeter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using reelbox::LevelMeter;

namespace {

struct Case {
    const char* name;
    std::function<float(int)> signal; // sample at frame i
    float average;                    // dBFS
    float peak;
};

TEST(LevelMeter, KnownSignalsGiveTheirLevels) {
    const std::vector<Case> cases = {
        {"full-scale sine", [](int i) { return float(std::sin(2 * std::numbers::pi * i / 48.0)); },
         -3.0103f, 0.0f},
        {"sine at 0.5",
         [](int i) { return 0.5f * float(std::sin(2 * std::numbers::pi * i / 48.0)); }, -9.0309f,
         -6.0206f},
        {"square at 0.25", [](int i) { return i % 2 ? 0.25f : -0.25f; }, -12.0412f, -12.0412f},
        {"silence", [](int) { return 0.0f; }, -160.0f, -160.0f},
        {"one spike", [](int i) { return i == 100 ? -1.0f : 0.0f; }, -33.8021f, 0.0f},
    };
    // All cases at once, one per channel, in buffers of 480 frames that carry one more channel
    // than the meter has: a full-scale one, ignored.
    const int channels = int(cases.size()) + 1;
    LevelMeter meter(channels - 1);
    std::vector<float> buffer(480 * size_t(channels), 1.0f);
    for (int start = 0; start < 2400; start += 480) {
        for (int i = 0; i < 480; ++i)
            for (size_t c = 0; c < cases.size(); ++c)
                buffer[size_t(i * channels) + c] = cases[c].signal(start + i);
        meter.add(buffer.data(), 480, channels);
    }
    const auto levels = meter.read();
    ASSERT_EQ(levels.size(), cases.size());
    for (size_t c = 0; c < cases.size(); ++c) {
        EXPECT_NEAR(levels[c].average, cases[c].average, 0.01) << cases[c].name;
        EXPECT_NEAR(levels[c].peak, cases[c].peak, 0.01) << cases[c].name;
    }
    // Each reading starts a new interval: nothing since the last one is silence.
    for (const auto& level : meter.read()) {
        EXPECT_EQ(level.average, LevelMeter::silenceDb);
        EXPECT_EQ(level.peak, LevelMeter::silenceDb);
    }
}

} // namespace
