#pragma once

// The "Test Camera" stream. Internal to reelbox_platform; reached through CameraStream::open.

#include "platform/camera/CameraStream.h"

#include <memory>

namespace reelbox {

// Frame k of the Test Camera is taken at host time round(k × 10⁹ / 30) ns on steady_clock, so
// its white flashes (k % 30 == 0) fall on whole seconds, the instants of the Test
// Microphone's clicks. Its sequence number is k.
qint64 testCameraFrameTimeNs(qint64 frameIndex);
// The first frame taken at or after `hostTimeNs`.
qint64 testCameraFrameAtOrAfter(qint64 hostTimeNs);

// A stream of the test pattern at `format`'s size (any even size) and 30 frames per second,
// whatever rate is asked for. Throws CameraError for an odd or empty size.
std::unique_ptr<CameraStream> openTestCamera(const CameraFormat& format);

} // namespace reelbox
