#pragma once

// The one conversion between RGB and YUV pictures. Internal to reelbox_platform.

#include "platform/media/YuvPicture.h"
#include "platform/media/internal/Av.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <array>

namespace reelbox {

// The colour matrix a decoded picture is read with, as an SWS_CS_* number: its tag, or for an
// untagged picture BT.709 from 720 lines up and BT.601 below.
int pictureMatrix(const AVFrame& frame);
// Whether its samples use the full 0 … 255 range.
bool pictureFullRange(const AVFrame& frame);

// Pixels in memory somebody else owns, as FFmpeg describes them.
struct Pixels {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    int width = 0, height = 0;
    std::array<uint8_t*, 4> data{};
    std::array<int, 4> linesize{};
};
// How YUV samples are read or written; ignored for RGB.
struct Colours {
    int matrix = SWS_CS_ITU709; // SWS_CS_*
    bool fullRange = false;
};

Pixels pixelsOf(const AVFrame& frame);
// Only the 32-bit formats (RGB32, ARGB32, ARGB32_Premultiplied); others are not touched.
Pixels pixelsOf(QImage& image);
Pixels pixelsOf(const YuvPicture& picture);
// The frame's 4:2:0 planes as a picture; the picture keeps a reference to its buffers.
YuvPicture yuvPictureOf(const AVFrame& frame, YuvPicture::Matrix matrix);

// Scales and converts pixels with libswscale. Its SIMD code reads and writes whole blocks past
// the end of a row and past the last row (up to 64 bytes here), so it only ever sees buffers
// laid out the way FFmpeg allocates frames (rows aligned to 64 bytes, padding after the last
// one): a source is first copied into one unless it already is a frame FFmpeg allocated, and
// the result is always made in one and copied out. The caller's pixels are read and written
// only inside their width and height. Keeps its scaler and buffers between pictures of the
// same shape.
class PictureScaler {
public:
    // `sourceFromFFmpeg`: the source lies in a frame FFmpeg allocated (a decoded picture).
    void scale(const Pixels& source, bool sourceFromFFmpeg, const Colours& sourceColours,
               const Pixels& target, const Colours& targetColours);

private:
    struct Shape {
        int sourceFormat = -1, sourceWidth = 0, sourceHeight = 0;
        int targetFormat = -1, width = 0, height = 0;
        int matrix = 0, sourceFull = 0, targetFull = 0;
        bool operator==(const Shape&) const = default;
    };
    SwsContext* contextFor(const Shape& shape);

    av::SwsPtr m_context;
    Shape m_shape;
    av::FramePtr m_in;
    av::FramePtr m_out;
};

// Decoded pictures (any software pixel format) to Format_RGB32 with the colour matrix and
// range the frame is tagged with (BT.709 from 720 lines up, BT.601 below, when it isn't).
class FrameConverter {
public:
    // The picture scaled to `size` (its own size when empty; before turning), then turned
    // clockwise by `rotation` degrees (0, 90, 180, 270). Always a new image.
    QImage convert(const AVFrame& frame, int rotation, QSize size = {});

    // The picture at its own size, unturned, into `image`, whose buffer is reused when it has
    // that size and format and isn't shared (otherwise it is replaced). Only the pixels of
    // `region` are converted (widened to whole chroma samples; empty = all); the others keep
    // whatever they held.
    void convertInto(QImage& image, const AVFrame& frame, const QRect& region = {});

private:
    PictureScaler m_scaler;
};

} // namespace reelbox
