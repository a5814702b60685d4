#pragma once

// Decoded pictures to QImage. Internal to reelbox_platform.

#include "platform/media/internal/Av.h"

#include <QImage>
#include <QRect>
#include <QSize>

namespace reelbox {

// The colour matrix a decoded picture is read with, as an SWS_CS_* number: its tag, or for an
// untagged picture BT.709 from 720 lines up and BT.601 below.
int pictureMatrix(const AVFrame& frame);
// Whether its samples use the full 0 … 255 range.
bool pictureFullRange(const AVFrame& frame);

// Converts decoded pictures (any software pixel format) to Format_RGB32 with the colour
// matrix and range the frame is tagged with (BT.709 from 720 lines up, BT.601 below, when it
// isn't tagged). Keeps its scaler between pictures of the same shape.
class PictureConverter {
public:
    // The picture scaled to `size` (its own size when empty; before turning), then turned
    // clockwise by `rotation` degrees (0, 90, 180, 270). Always a new image.
    QImage convert(const AVFrame& frame, int rotation, QSize size = {});

    // The picture at its own size, unturned, into `image`, whose buffer is reused when it has
    // that size and format and isn't shared (otherwise it is replaced). Only the pixels of
    // `region` are converted (widened to whole chroma samples and aligned; empty = all);
    // the others keep whatever they held.
    void convertInto(QImage& image, const AVFrame& frame, const QRect& region = {});

private:
    struct Shape {
        int sourceWidth = 0, sourceHeight = 0, format = -1, width = 0, height = 0;
        int matrix = 0;
        bool fullRange = false;
        bool operator==(const Shape&) const = default;
    };
    SwsContext* scalerFor(const Shape& shape);

    av::SwsPtr m_scaler;
    Shape m_shape;
};

} // namespace reelbox
