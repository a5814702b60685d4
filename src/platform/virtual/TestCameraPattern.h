#pragma once

#include "platform/media/YuvPicture.h"

#include <QImage>
#include <QSize>
#include <QtGlobal>

namespace reelbox {

// The "Test Camera" picture: colour bars with a bar sweeping across, the frame number in
// seven-segment digits at the top left, and a pure white frame on the first frame of every
// second (frameIndex % frameRate == 0). A pure function of its arguments; needs no
// QGuiApplication.
class TestCameraPattern {
public:
    static QImage render(qint64 frameIndex, QSize size, int frameRate = 30);

    // Draws into an existing image (Format_RGB32 or ARGB32) of any size, without allocating.
    static void renderInto(QImage& image, qint64 frameIndex, int frameRate = 30);

    // The same picture drawn straight into a 4:2:0 picture in its colour matrix, without
    // allocating; the colours are those of the RGB picture, chroma edges at even pixels.
    static void renderInto(YuvPicture& picture, qint64 frameIndex, int frameRate = 30);

    static bool isFlash(qint64 frameIndex, int frameRate) {
        return frameRate > 0 && frameIndex % frameRate == 0;
    }
};

} // namespace reelbox
