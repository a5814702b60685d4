#include "compose/LiveLayout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace reelbox;

namespace {

// Snapshot number n: 1 to 4 tiles side by side, all from track n, mirrored when n is odd.
LiveSnapshot numbered(int n) {
    LiveSnapshot snapshot;
    snapshot.canvas = {double(16 * (n % 4 + 1)), 9};
    for (int i = 0; i <= n % 4; ++i)
        snapshot.layers.push_back({n, {16.0 * i, 0, 16, 9}, {0, 0, 16, 9}, {16, 9}});
    snapshot.mirror = n % 2 == 1;
    return snapshot;
}

} // namespace

TEST(LiveLayout, DrawingSeesOnlyWholeSnapshotsWhileTheyAreReplaced) {
    LiveLayout layout;
    EXPECT_EQ(layout.current(), LiveSnapshot{}); // empty until the first replace
    layout.replace(numbered(0));
    constexpr int count = 400;
    std::atomic<bool> done = false;

    std::thread editor([&] {
        for (int n = 1; n < count; ++n)
            layout.replace(numbered(n));
        done = true;
    });

    int last = 0;
    int reads = 0;
    while (!done || reads == 0) {
        const LiveSnapshot snapshot = layout.current();
        ASSERT_FALSE(snapshot.layers.empty());
        const int n = snapshot.layers.front().trackID;
        ASSERT_GE(n, last); // never an older snapshot after a newer one
        ASSERT_EQ(snapshot, numbered(n));
        last = n;
        ++reads;
    }
    editor.join();
    EXPECT_EQ(layout.current(), numbered(count - 1));
}
