#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace reelbox::dsp {

// A delay of a fixed number of frames, read and written a block at a time through plain
// contiguous pointers (no wrap-around inside a block, so the loops over a block vectorise).
// The samples sit in a linear buffer with room for many blocks past the delay; when the write
// position reaches the end, the last `delay` samples are moved back to the front, which costs
// a fraction of a sample per frame.
class DelayLine {
public:
    DelayLine() = default;
    DelayLine(std::size_t delay, std::size_t maxBlock)
        : m_delay(delay), m_buffer(delay + 256 * maxBlock, 0.0f), m_write(delay) {}

    std::size_t delay() const { return m_delay; }

    void clear() {
        std::fill(m_buffer.begin(), m_buffer.end(), 0.0f);
        m_write = m_delay;
    }

    // Makes room for n more frames (n at most maxBlock) and returns where they go.
    float* writeBlock(std::size_t n) {
        if (m_write + n > m_buffer.size()) {
            std::memmove(m_buffer.data(), m_buffer.data() + m_write - m_delay,
                         m_delay * sizeof(float));
            m_write = m_delay;
        }
        return m_buffer.data() + m_write;
    }

    // The frames that went in `delay` frames before the current write position, in order.
    // After writeBlock(n) and before advance(n), this includes the new frames when n > delay.
    const float* readBlock() const { return m_buffer.data() + m_write - m_delay; }

    void advance(std::size_t n) { m_write += n; }

private:
    std::size_t m_delay = 0;
    std::vector<float> m_buffer;
    std::size_t m_write = 0;
};

} // namespace reelbox::dsp
