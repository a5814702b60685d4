#pragma once

#include <atomic>
#include <memory>
#include <vector>

namespace reelbox {

// Per-channel levels since the previous reading. The audio thread adds buffers without locks or
// allocation; any thread reads.
class LevelMeter {
public:
    static constexpr float silenceDb = -160.0f;

    struct Level {
        float average = silenceDb; // RMS power, dBFS
        float peak = silenceDb;    // largest |sample|, dBFS
    };

    explicit LevelMeter(int channels);

    int channels() const { return m_count; }

    // Audio thread. Channels beyond the meter's count are ignored.
    void add(const float* interleaved, int frames, int channels) noexcept;

    // One entry per channel, then starts a new measuring interval.
    std::vector<Level> read();

private:
    struct alignas(64) Channel {
        std::atomic<double> sumSquares{0.0};
        std::atomic<float> peak{0.0f};
        std::atomic<long long> frames{0};
    };
    static_assert(std::atomic<double>::is_always_lock_free);
    static_assert(std::atomic<float>::is_always_lock_free);

    int m_count;
    std::unique_ptr<Channel[]> m_channels;
};

} // namespace reelbox
