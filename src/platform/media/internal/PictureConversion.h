#pragma once

// Decoded pictures to QImage. Internal to reelbox_platform.

#include "Av.h"

#include <QImage>

namespace reelbox {

class PictureConverter {
public:
    // The picture at its own size as Format_RGB32, the display rotation applied.
    QImage convert(const AVFrame& frame, int rotation);

private:
    av::SwsPtr m_scaler;
};

} // namespace reelbox
