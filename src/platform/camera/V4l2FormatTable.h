#pragma once

#include "platform/camera/CameraDevices.h"

#include <QSize>
#include <cstdint>
#include <vector>

namespace reelbox::v4l2 {

// What a V4L2 device says about its formats (VIDIOC_ENUM_FMT, VIDIOC_ENUM_FRAMESIZES,
// VIDIOC_ENUM_FRAMEINTERVALS), as plain records: read from a device, or written down as data.

struct Fraction {
    std::uint32_t numerator = 0;
    std::uint32_t denominator = 0;
};

enum class Kind { discrete, continuous, stepwise };

// A frame interval in seconds (the inverse of a frame rate).
struct FrameInterval {
    Kind kind = Kind::discrete;
    Fraction discrete;
    Fraction min, max, step; // continuous and stepwise
};

struct FrameSize {
    Kind kind = Kind::discrete;
    std::uint32_t width = 0, height = 0;                     // discrete
    std::uint32_t minWidth = 0, maxWidth = 0, stepWidth = 0; // continuous and stepwise
    std::uint32_t minHeight = 0, maxHeight = 0, stepHeight = 0;
    // The intervals offered at this size; for a range of sizes, at its largest size.
    std::vector<FrameInterval> intervals;
};

struct PixelFormat {
    std::uint32_t fourcc = 0;
    std::uint32_t flags = 0; // V4L2_FMT_FLAG_*: 1 compressed, 2 emulated
    std::vector<FrameSize> sizes;
};

constexpr std::uint32_t fourcc(char a, char b, char c, char d) {
    return std::uint32_t(std::uint8_t(a)) | std::uint32_t(std::uint8_t(b)) << 8 |
           std::uint32_t(std::uint8_t(c)) << 16 | std::uint32_t(std::uint8_t(d)) << 24;
}
QString fourccText(std::uint32_t code); // "MJPG"; trailing spaces dropped
std::uint32_t fourccCode(const QString& text);

// Pixel formats Reelbox can turn into its pictures: MJPG, YUYV, NV12 and YU12.
bool isSupported(std::uint32_t code);

// The sizes offered from a range: the common picture sizes that lie in it and on its steps,
// and its largest size; even sizes only, largest first.
std::vector<QSize> sizesInRange(const FrameSize& range);

// The frame-rate ranges of a list of intervals, in its order, repeats dropped.
std::vector<FrameRateRange> frameRates(const std::vector<FrameInterval>& intervals);

// The formats a camera offers: supported, not emulated, even sizes with at least one frame
// rate, in the device's order, each pixel format and size once.
std::vector<CameraFormat> cameraFormats(const std::vector<PixelFormat>& table);

} // namespace reelbox::v4l2
