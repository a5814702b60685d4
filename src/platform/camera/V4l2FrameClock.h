#pragma once

#include <QtGlobal>
#include <cstdint>

namespace reelbox::v4l2 {

// What a dequeued V4L2 buffer says about when it was taken.
struct BufferStamp {
    std::uint32_t sequence = 0;
    std::uint32_t flags = 0; // V4L2_BUF_FLAG_*: timestamp type 0x2000 monotonic, 0x4000 copy
    qint64 seconds = 0;
    qint64 microseconds = 0;
};

// Host times and dropped frames of one stream's buffers, in the order the driver hands them out.
class FrameClock {
public:
    // The frame's instant on steady_clock: the kernel's own when the driver stamps on
    // CLOCK_MONOTONIC, otherwise `nowNs` (the moment it was dequeued).
    static qint64 hostTimeNs(const BufferStamp& stamp, qint64 nowNs);

    // Counts the frames the driver skipped before this one (a gap in the sequence numbers) and
    // returns how many. A sequence that starts again (a restart) counts nothing.
    qint64 account(const BufferStamp& stamp);
    qint64 dropped() const { return m_dropped; }

private:
    qint64 m_last = -1;
    qint64 m_dropped = 0;
};

} // namespace reelbox::v4l2
