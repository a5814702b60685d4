#include "platform/sound/internal/StampFilter.h"

#include "platform/HostClock.h"

#include <cstdlib>

namespace reelbox::pipewire {

namespace {
// Beyond this a jump or an error is no cycle's jitter.
constexpr qint64 jitterLimitNs = 1'000'000;
// The share of the error a stamp moves towards the measurement.
constexpr qint64 creepDivisor = 64;
} // namespace

qint64 graphTicksToNs(std::int64_t ticks, std::int64_t num, std::int64_t denom) noexcept {
    if (denom == 0)
        return 0;
    return qint64(ticks * nsPerSecond * num / denom);
}

qint64 StampFilter::next(qint64 measuredNs, int frames,
                         std::optional<GraphPosition> position) noexcept {
    qint64 stamp = measuredNs;
    if (m_valid && position) {
        m_advancedNs += graphTicksToNs(std::int64_t(position->ticks - m_ticks), position->rateNum,
                                       position->rateDenom);
        m_passedNs += m_lastLengthNs;
        const qint64 gap = m_advancedNs - m_passedNs;
        const qint64 error = measuredNs - m_expectedNs;
        // An error well beyond a cycle's jitter is a stamp that started a cycle off (as a
        // stream's first one may): taken as measured rather than crept towards.
        if (std::abs(gap - m_gapNs) < jitterLimitNs && std::abs(error) < jitterLimitNs)
            stamp = m_expectedNs + error / creepDivisor;
        m_gapNs = gap;
    } else if (m_valid) {
        stamp = m_expectedNs;
    }
    if (position && !m_valid) {
        m_valid = true;
        m_advancedNs = m_passedNs = m_gapNs = 0;
    }
    if (position)
        m_ticks = position->ticks;
    m_lastLengthNs = framesToNs(frames);
    m_expectedNs = stamp + m_lastLengthNs;
    return stamp;
}

} // namespace reelbox::pipewire
