#pragma once

#include "platform/SampleRate.h"

#include <QtGlobal>
#include <atomic>
#include <memory>

namespace reelbox {

// The "cable" from the Test Output to the Test Microphone's last channel. Slots are indexed by
// the instant a frame is heard, on a 48 kHz grid of the host clock; one writer (the output's
// thread) and one reader (the microphone's thread), no locks.
class SoundLoopback {
public:
    static constexpr qint64 slotCount = qint64(1) << 17; // about 2.7 s

    SoundLoopback()
        : m_values(std::make_unique<std::atomic<float>[]>(slotCount)),
          m_stamps(std::make_unique<std::atomic<qint64>[]>(slotCount)) {
        for (qint64 i = 0; i < slotCount; ++i)
            m_stamps[i].store(-1, std::memory_order_relaxed);
    }

    // The grid position of a host instant.
    static qint64 slotOf(qint64 hostTimeNs) {
        return qint64((static_cast<long double>(hostTimeNs) * audioSampleRate / 1e9L) + 0.5L);
    }

    void write(qint64 slot, float value) noexcept {
        const qint64 i = slot & (slotCount - 1);
        m_values[i].store(value, std::memory_order_relaxed);
        m_stamps[i].store(slot, std::memory_order_release);
    }

    // Silence for a slot nothing was played at (or that was overwritten since).
    float read(qint64 slot) const noexcept {
        const qint64 i = slot & (slotCount - 1);
        if (m_stamps[i].load(std::memory_order_acquire) != slot)
            return 0.0f;
        const float v = m_values[i].load(std::memory_order_relaxed);
        return m_stamps[i].load(std::memory_order_relaxed) == slot ? v : 0.0f;
    }

private:
    std::unique_ptr<std::atomic<float>[]> m_values;
    std::unique_ptr<std::atomic<qint64>[]> m_stamps;
};

} // namespace reelbox
