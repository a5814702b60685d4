#pragma once

// The V4L2 camera stream. Internal to reelbox_platform.

#include "platform/camera/CameraStream.h"

#include <memory>

namespace reelbox {

// Opens a V4L2 capture device (a /dev path or a /dev/v4l/by-id link). Throws CameraError.
std::unique_ptr<CameraStream> openV4l2Camera(const QString& path, const CameraFormat& format,
                                             double frameRate);

// The name to show for a device path in messages: its card name from sysfs, or the path.
QString v4l2DisplayName(const QString& path);

} // namespace reelbox
