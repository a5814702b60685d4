#pragma once

#include "platform/SampleRate.h"

#include <QtGlobal>
#include <array>
#include <atomic>
#include <memory>

namespace reelbox {

// The "cable" from the Test Output to the Test Microphone's last channel. Slots are indexed by
// the instant a frame is heard, on a 48 kHz grid of the host clock. Each open output writes
// its own lane (one writer per lane); the microphone hears the sum of the lanes, as a sound
// server mixes its streams. No locks.
class SoundLoopback {
public:
    static constexpr qint64 slotCount = qint64(1) << 17; // about 2.7 s
    static constexpr int laneCount = 4;                  // outputs heard at once

    SoundLoopback() {
        for (Lane& lane : m_lanes) {
            lane.values = std::make_unique<std::atomic<float>[]>(slotCount);
            lane.stamps = std::make_unique<std::atomic<qint64>[]>(slotCount);
            for (qint64 i = 0; i < slotCount; ++i)
                lane.stamps[i].store(-1, std::memory_order_relaxed);
        }
    }

    // The grid position of a host instant.
    static qint64 slotOf(qint64 hostTimeNs) {
        return qint64((static_cast<long double>(hostTimeNs) * audioSampleRate / 1e9L) + 0.5L);
    }

    // A lane for one output, or -1 when every lane is taken (that output is not heard).
    int claimLane() noexcept {
        for (int i = 0; i < laneCount; ++i) {
            bool free = false;
            if (m_lanes[size_t(i)].taken.compare_exchange_strong(free, true))
                return i;
        }
        return -1;
    }
    void releaseLane(int lane) noexcept {
        if (lane >= 0 && lane < laneCount)
            m_lanes[size_t(lane)].taken.store(false);
    }

    void write(int lane, qint64 slot, float value) noexcept {
        if (lane < 0 || lane >= laneCount)
            return;
        Lane& l = m_lanes[size_t(lane)];
        const qint64 i = slot & (slotCount - 1);
        l.values[i].store(value, std::memory_order_relaxed);
        l.stamps[i].store(slot, std::memory_order_release);
    }

    // What every output played at a slot; silence where nothing was played (or was
    // overwritten since).
    float read(qint64 slot) const noexcept {
        const qint64 i = slot & (slotCount - 1);
        float sum = 0.0f;
        for (const Lane& l : m_lanes) {
            if (l.stamps[i].load(std::memory_order_acquire) != slot)
                continue;
            const float v = l.values[i].load(std::memory_order_relaxed);
            if (l.stamps[i].load(std::memory_order_relaxed) == slot)
                sum += v;
        }
        return sum;
    }

private:
    struct Lane {
        std::unique_ptr<std::atomic<float>[]> values;
        std::unique_ptr<std::atomic<qint64>[]> stamps;
        std::atomic<bool> taken{false};
    };
    std::array<Lane, laneCount> m_lanes;
};

} // namespace reelbox
