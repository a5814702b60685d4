#include "platform/sound/internal/StampFilter.h"
#include "platform/HostClock.h"

#include <gtest/gtest.h>

namespace reelbox::pipewire {
namespace {

constexpr int cycleFrames = 1024;
constexpr qint64 startNs = 5 * nsPerSecond;

// After a few cycles measured exactly on time, one cycle whose graph position advanced
// `extraTicks` beyond its frames and whose measurement is `offsetNs` off the expected stamp.
struct Case {
    const char* name;
    std::int64_t extraTicks;
    qint64 offsetNs;
    bool timed;
    qint64 stampOffsetNs; // the stamp given, from the expected one
};

TEST(StampFilterTest, FollowsTheGraphAndRestartsWhenItJumps) {
    const qint64 cycleNs = framesToNs(cycleFrames);
    const Case cases[] = {
        {"creeps towards a late measurement", 0, 6400, true, 100},
        {"creeps towards an early measurement", 0, -64000, true, -1000},
        {"restarts after a jump of the graph", 480, 200'000, true, 200'000},
        {"restarts after a jump with a late measurement", 480, 10'000'000, true, 10'000'000},
        {"takes a cycle early as measured", 0, -cycleNs, true, -cycleNs},
        {"takes a cycle late as measured", 0, 2'000'000, true, 2'000'000},
        {"runs on without a graph position", 0, 500'000, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StampFilter filter;
        std::uint64_t ticks = 77;
        auto graph = [&] { return GraphPosition{ticks, 1, audioSampleRate}; };
        qint64 expected = startNs;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(filter.next(expected, cycleFrames, graph()), expected);
            ticks += cycleFrames;
            expected += cycleNs;
        }
        ticks += std::uint64_t(c.extraTicks);
        const auto position = c.timed ? std::optional(graph()) : std::nullopt;
        const qint64 stamp = filter.next(expected + c.offsetNs, cycleFrames, position);
        EXPECT_EQ(stamp - expected, c.stampOffsetNs);
        // The next cycle, on time after the one given, runs on from it.
        ticks += cycleFrames;
        EXPECT_EQ(filter.next(stamp + cycleNs, cycleFrames, graph()), stamp + cycleNs);
    }
}

} // namespace
} // namespace reelbox::pipewire
