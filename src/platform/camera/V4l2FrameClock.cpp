#include "platform/camera/V4l2FrameClock.h"

#include "platform/HostClock.h"

#include <linux/videodev2.h>

namespace reelbox::v4l2 {

qint64 FrameClock::hostTimeNs(const BufferStamp& stamp, qint64 nowNs) {
    if ((stamp.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) != V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC)
        return nowNs;
    return stamp.seconds * nsPerSecond + stamp.microseconds * 1000;
}

qint64 FrameClock::account(const BufferStamp& stamp) {
    const qint64 sequence = stamp.sequence;
    qint64 missing = 0;
    if (m_last >= 0 && sequence > m_last + 1)
        missing = sequence - m_last - 1;
    m_last = sequence;
    m_dropped += missing;
    return missing;
}

} // namespace reelbox::v4l2
