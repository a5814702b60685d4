#pragma once

#include "platform/media/YuvPicture.h"

#include <QSize>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace reelbox {

// Turns the frames a camera delivers into the 4:2:0 pictures the encoder takes: YUYV, NV12
// and YU12 are rearranged, MJPG is decoded (libavcodec), brought to limited range and scaled
// to the agreed size when the camera sends pictures of another.
class CameraFrameConverter {
public:
    // Throws CameraError (unsupportedFormat) for another pixel format or an odd size.
    CameraFrameConverter(const QString& pixelFormat, QSize size);
    ~CameraFrameConverter();
    CameraFrameConverter(const CameraFrameConverter&) = delete;
    CameraFrameConverter& operator=(const CameraFrameConverter&) = delete;

    QSize size() const;

    // Converts one frame of `bytes` bytes, whose first plane has `bytesPerLine` bytes a row
    // (0: tightly packed), into `picture` (of size()). Returns false for a frame that is too
    // short or can't be decoded; `picture` holds garbage then.
    bool convert(const std::uint8_t* data, std::size_t bytes, int bytesPerLine,
                 YuvPicture& picture);

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace reelbox
