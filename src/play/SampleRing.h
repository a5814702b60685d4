#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <vector>

namespace reelbox {

// A single-producer, single-consumer ring of samples: the audio thread pushes without locks
// or allocation, another thread pops. What doesn't fit is dropped and counted.
class SampleRing {
public:
    explicit SampleRing(std::size_t capacity) : m_buffer(capacity + 1) {}

    // Producer.
    void push(const float* samples, std::size_t count) noexcept {
        const std::size_t size = m_buffer.size();
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        const std::size_t tail = m_tail.load(std::memory_order_acquire);
        const std::size_t free = (tail + size - head - 1) % size;
        const std::size_t n = std::min(count, free);
        for (std::size_t i = 0; i < n; ++i)
            m_buffer[(head + i) % size] = samples[i];
        m_head.store((head + n) % size, std::memory_order_release);
        if (n < count)
            m_dropped.fetch_add(count - n, std::memory_order_relaxed);
    }

    // Consumer: up to `max` samples; how many were taken.
    std::size_t pop(float* out, std::size_t max) noexcept {
        const std::size_t size = m_buffer.size();
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        const std::size_t head = m_head.load(std::memory_order_acquire);
        const std::size_t n = std::min(max, (head + size - tail) % size);
        for (std::size_t i = 0; i < n; ++i)
            out[i] = m_buffer[(tail + i) % size];
        m_tail.store((tail + n) % size, std::memory_order_release);
        return n;
    }

    std::size_t dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    std::vector<float> m_buffer;
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};
    std::atomic<std::size_t> m_dropped{0};
};

} // namespace reelbox
