// The sound side of the player against a main thread that keeps sending commands: each
// command is applied once.
#include "play/MixPlayback.h"

#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <thread>

using namespace reelbox;

// Frame f of the item holds f + 1 on both channels, so a buffer tells which frame it starts
// with (0 is silence). The main thread sends play commands, each from another frame than the
// one before, while the audio side renders. A buffer that doesn't follow the one before
// starts where a command put it, so two such starts in a row at the same frame are one
// command applied twice.
TEST(MixPlaybackTest, EachCommandIsAppliedOnceUnderAStreamOfCommands) {
    constexpr qint64 length = 1'000'000;
    constexpr int bufferFrames = 32;
    constexpr int buffers = 3'000'000;
    auto samples = std::make_shared<MixSamples>();
    samples->samples.resize(size_t(length) * 2);
    for (qint64 f = 0; f < length; ++f)
        samples->samples[size_t(2 * f)] = samples->samples[size_t(2 * f + 1)] = float(f + 1);
    MixPlayback playback;
    (void)playback.setItem(samples, length);

    std::atomic<int> rendered{0};
    int starts = 0, repeated = 0;
    std::thread audio([&] {
        float out[bufferFrames * 2];
        float next = 0, lastStart = 0;
        qint64 host = 1'000'000;
        volatile int sink = 0;
        (void)sink;
        for (int i = 0; i < buffers; ++i) {
            playback.render(out, bufferFrames, 2, host);
            host += 1000;
            if (out[0] != 0 && out[0] != next) {
                ++starts;
                repeated += out[0] == lastStart ? 1 : 0;
                lastStart = out[0];
            }
            next = out[0] == 0 ? 0 : out[2 * (bufferFrames - 1)] + 1;
            rendered.store(i + 1);
            // A varying pause, so the commands land at every point of a render's start.
            for (int spin = 0; spin < (i * 7) % 256; ++spin)
                sink = spin;
        }
    });
    // Each command goes out as a buffer begins, and the next one after two more buffers, so a
    // command applied twice shows as a start repeated.
    for (qint64 k = 0;; ++k) {
        const int at = rendered.load();
        if (at >= buffers - 2)
            break;
        while (rendered.load() == at) {
        }
        playback.play((k % 100'000) * 9);
        while (rendered.load() < at + 3) {
        }
    }
    audio.join();

    EXPECT_GT(starts, 0);
    EXPECT_EQ(repeated, 0) << "of " << starts << " starts";
}
