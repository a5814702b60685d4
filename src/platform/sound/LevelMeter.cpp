#include "platform/sound/LevelMeter.h"

#include <algorithm>
#include <cmath>

namespace reelbox {

LevelMeter::LevelMeter(int channels)
    : m_count(std::max(0, channels)), m_channels(std::make_unique<Channel[]>(size_t(m_count))) {}

void LevelMeter::add(const float* interleaved, int frames, int channels) noexcept {
    const int used = std::min(channels, m_count);
    for (int c = 0; c < used; ++c) {
        double sum = 0;
        float peak = 0;
        const float* p = interleaved + c;
        for (int i = 0; i < frames; ++i, p += channels) {
            const float v = *p;
            sum += double(v) * v;
            peak = std::max(peak, std::fabs(v));
        }
        Channel& ch = m_channels[size_t(c)];
        ch.sumSquares.fetch_add(sum, std::memory_order_relaxed);
        ch.frames.fetch_add(frames, std::memory_order_relaxed);
        float old = ch.peak.load(std::memory_order_relaxed);
        while (peak > old && !ch.peak.compare_exchange_weak(old, peak, std::memory_order_relaxed)) {
        }
    }
}

std::vector<LevelMeter::Level> LevelMeter::read() {
    auto toDb = [](double value, double scale) {
        if (!(value > 0))
            return silenceDb;
        return float(std::max<double>(silenceDb, scale * std::log10(value)));
    };
    std::vector<Level> levels(static_cast<size_t>(m_count));
    for (int c = 0; c < m_count; ++c) {
        Channel& ch = m_channels[size_t(c)];
        const long long frames = ch.frames.exchange(0, std::memory_order_relaxed);
        const double sum = ch.sumSquares.exchange(0.0, std::memory_order_relaxed);
        const float peak = ch.peak.exchange(0.0f, std::memory_order_relaxed);
        if (frames > 0)
            levels[size_t(c)].average = toDb(sum / double(frames), 10.0);
        levels[size_t(c)].peak = toDb(peak, 20.0);
    }
    return levels;
}

} // namespace reelbox
