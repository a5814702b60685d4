#pragma once

// Helpers of the V4L2 camera stream. Internal to reelbox_platform.

#include <QString>

namespace reelbox {

// The name to show for a device path in messages: its card name from sysfs, or the path.
QString v4l2DisplayName(const QString& path);

} // namespace reelbox
