#pragma once

#include <QString>
#include <vector>

namespace reelbox {

// Frame rates a camera format can run at, in frames per second. A fixed rate has
// minFps == maxFps.
struct FrameRateRange {
    double minFps = 0;
    double maxFps = 0;
    bool contains(double fps) const { return minFps <= fps && fps <= maxFps; }
    bool operator==(const FrameRateRange&) const = default;
};

// One picture size in one pixel format, with the frame rates it offers in the device's order.
struct CameraFormat {
    int width = 0;
    int height = 0;
    QString pixelFormat; // four-character code: "MJPG", "YUYV", "NV12", "YU12"
    std::vector<FrameRateRange> frameRates;
    bool operator==(const CameraFormat&) const = default;
};

struct CameraInfo {
    QString id;   // stable: the /dev/v4l/by-id path where there is one, else /dev/videoN
    QString name; // the card name, as shown in pickers
    std::vector<CameraFormat> formats; // in the device's order
    bool isVirtual = false;
    // The device exists but this user may not open it (no formats are known then).
    bool permissionDenied = false;
    bool operator==(const CameraInfo&) const = default;
};

// The unique id and name of the "Test Camera".
QString testCameraId();
QString testCameraName();
CameraInfo testCameraInfo();

// Whether REELBOX_VIRTUAL_DEVICES=1 asks for the virtual devices next to the real ones.
bool virtualDevicesForced();

// The V4L2 video capture devices among the video* nodes of `deviceDirectory`, in the order of
// their numbers. Devices that vanish or fail while being read are left out.
std::vector<CameraInfo> listV4l2Cameras(const QString& deviceDirectory = QStringLiteral("/dev"));

// The cameras to offer: the V4L2 capture devices in discovery order, then the "Test Camera"
// when there is no real camera or virtual devices are forced.
std::vector<CameraInfo> listCameras();

} // namespace reelbox
