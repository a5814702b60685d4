#pragma once

#include <QtGlobal>
#include <cstdint>
#include <optional>

namespace reelbox::pipewire {

// Where the sound graph stood at a cycle: its position in ticks and the length of a tick in
// seconds (rateNum / rateDenom).
struct GraphPosition {
    std::uint64_t ticks = 0;
    std::int64_t rateNum = 0;
    std::int64_t rateDenom = 0;
};

// The length of `ticks` at `num / denom` seconds a tick; 0 for a rate without a denominator.
qint64 graphTicksToNs(std::int64_t ticks, std::int64_t num, std::int64_t denom) noexcept;

// Stamps that run on without a gap while the graph's position (ticks) advances exactly as much as
// the frames that went through, following the measured instants slowly so jitter doesn't jolt
// them; when the position jumps (an xrun, lost frames) or they are more than a millisecond off,
// they restart from the measurement. Without a graph position the stamps run on from the last
// one. Audio thread: no allocation, no lock.
class StampFilter {
public:
    // The stamp of a buffer of `frames` measured at `measuredNs`.
    qint64 next(qint64 measuredNs, int frames, std::optional<GraphPosition> position) noexcept;

private:
    bool m_valid = false;
    std::uint64_t m_ticks = 0;
    qint64 m_advancedNs = 0; // graph time since the first timed buffer
    qint64 m_passedNs = 0;   // length of the frames that went through since then
    qint64 m_gapNs = 0;
    qint64 m_lastLengthNs = 0;
    qint64 m_expectedNs = 0;
};

} // namespace reelbox::pipewire
