#include "capture/ClockMapping.h"

#include "platform/SampleRate.h"

#include <algorithm>

namespace reelbox {

namespace {

// Below this spread of host times (s²) the slope is not trusted yet.
constexpr double minimumSpread = 0.25;

} // namespace

ClockMapping::ClockMapping(int memoryBuffers)
    : m_forget(1.0 - 1.0 / double(std::max(2, memoryBuffers))) {}

void ClockMapping::reset() {
    *this = ClockMapping(int(1.0 / (1.0 - m_forget) + 0.5));
}

void ClockMapping::add(qint64 hostTimeNs, qint64 position) {
    if (m_count == 0) {
        m_originNs = hostTimeNs;
        m_originPosition = position;
    }
    const double x = double(hostTimeNs - m_originNs) * 1e-9;
    const double y = double(position - m_originPosition);
    m_w = m_w * m_forget + 1.0;
    m_x = m_x * m_forget + x;
    m_y = m_y * m_forget + y;
    m_xx = m_xx * m_forget + x * x;
    m_xy = m_xy * m_forget + x * y;
    ++m_count;
}

double ClockMapping::samplesPerSecond() const {
    if (m_count < 2)
        return audioSampleRate;
    const double spread = m_xx - m_x * m_x / m_w;
    if (spread < minimumSpread * m_w / 100.0 || spread <= 0)
        return audioSampleRate;
    return (m_xy - m_x * m_y / m_w) / spread;
}

double ClockMapping::positionAt(qint64 hostTimeNs) const {
    const double x = double(hostTimeNs - m_originNs) * 1e-9;
    const double meanX = m_x / m_w;
    const double meanY = m_y / m_w;
    return double(m_originPosition) + meanY + samplesPerSecond() * (x - meanX);
}

} // namespace reelbox
