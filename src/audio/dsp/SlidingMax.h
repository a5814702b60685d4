#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace reelbox::dsp {

// The largest of the last `window` values of a stream (van Herk / Gil-Werman): the stream is
// cut into chunks of `window` values, and the maximum over any window is the larger of the
// current chunk's running (prefix) maximum and the previous chunk's suffix maximum at the
// same position. Constant work per value and no data-dependent branches, unlike a monotonic
// queue. Values before the start of the stream count as 0.
class SlidingMax {
public:
    explicit SlidingMax(std::size_t window)
        : m_window(std::max<std::size_t>(window, 1)), m_current(m_window, 0.0f),
          m_suffix(m_window + 1, 0.0f) {}

    void reset() {
        m_position = 0;
        m_prefix = 0;
        std::fill(m_suffix.begin(), m_suffix.end(), 0.0f);
    }

    std::size_t window() const { return m_window; }

    // Adds a value and returns the maximum of the last `window` values.
    float push(float value) {
        m_current[m_position] = value;
        m_prefix = std::max(m_prefix, value);
        const float peak = std::max(m_prefix, m_suffix[m_position + 1]);
        if (++m_position == m_window)
            finishChunk();
        return peak;
    }

    // Adds |values[i]| for n values and stores the maximum after each in peaks[i].
    void pushMagnitudes(const float* __restrict values, float* __restrict peaks, std::size_t n) {
        float* __restrict const current = m_current.data();
        const float* __restrict const suffix = m_suffix.data();
        std::size_t position = m_position;
        float prefix = m_prefix;
        std::size_t i = 0;
        while (i < n) {
            // Up to the end of the current chunk, without a check per value.
            const std::size_t run = std::min(n - i, m_window - position);
            for (std::size_t k = 0; k < run; ++k) {
                const float value = std::fabs(values[i + k]);
                current[position + k] = value;
                prefix = std::max(prefix, value);
                peaks[i + k] = std::max(prefix, suffix[position + k + 1]);
            }
            i += run;
            position += run;
            if (position == m_window) {
                m_prefix = prefix;
                finishChunk();
                position = 0;
                prefix = 0;
            }
        }
        m_position = position;
        m_prefix = prefix;
    }

private:
    void finishChunk() {
        float running = 0;
        for (std::size_t k = m_window; k-- > 0;) {
            running = std::max(running, m_current[k]);
            m_suffix[k] = running;
        }
        m_position = 0;
        m_prefix = 0;
    }

    std::size_t m_window;
    std::size_t m_position = 0;
    float m_prefix = 0;
    std::vector<float> m_current; // the current chunk so far
    std::vector<float> m_suffix;  // suffix maxima of the previous chunk, then a 0
};

} // namespace reelbox::dsp
