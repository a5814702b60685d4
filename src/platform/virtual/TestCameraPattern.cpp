#include "platform/virtual/TestCameraPattern.h"

#include <QRect>
#include <algorithm>
#include <array>
#include <cstdint>

namespace reelbox {

namespace {

// 75 % bars: white, yellow, cyan, green, magenta, red, blue.
constexpr std::array<QRgb, 7> barColours{0xffbfbfbf, 0xffbfbf00, 0xff00bfbf, 0xff00bf00,
                                         0xffbf00bf, 0xffbf0000, 0xff0000bf};

// Segments a–g of the digits 0–9, bit 0 = a.
constexpr std::array<uint8_t, 10> digitSegments{0x3f, 0x06, 0x5b, 0x4f, 0x66,
                                                0x6d, 0x7d, 0x07, 0x7f, 0x6f};

class Canvas {
public:
    explicit Canvas(QImage& image)
        : m_image(image), m_width(image.width()), m_height(image.height()) {}

    void fill(int x, int y, int w, int h, QRgb colour) {
        const int left = std::clamp(x, 0, m_width), right = std::clamp(x + w, 0, m_width);
        const int top = std::clamp(y, 0, m_height), bottom = std::clamp(y + h, 0, m_height);
        for (int row = top; row < bottom; ++row) {
            auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(row));
            std::fill(line + left, line + right, colour);
        }
    }

    void fill(const QRect& rect, QRgb colour) {
        fill(rect.x(), rect.y(), rect.width(), rect.height(), colour);
    }

    // One digit in a cell of width `w` and height 2w, segments `t` thick.
    void digit(int x, int y, int w, int t, int value, QRgb colour) {
        const int half = w;
        const std::array<QRect, 7> segments{QRect(x, y, w, t),                   // a
                                            QRect(x + w - t, y, t, half),        // b
                                            QRect(x + w - t, y + half, t, half), // c
                                            QRect(x, y + 2 * w - t, w, t),       // d
                                            QRect(x, y + half, t, half),         // e
                                            QRect(x, y, t, half),                // f
                                            QRect(x, y + half - t / 2, w, t)};   // g
        for (size_t s = 0; s < segments.size(); ++s) {
            if (digitSegments[size_t(value)] & (1u << s))
                fill(segments[s], colour);
        }
    }

private:
    QImage& m_image;
    int m_width;
    int m_height;
};

} // namespace

QImage TestCameraPattern::render(qint64 frameIndex, QSize size, int frameRate) {
    QImage image(size, QImage::Format_RGB32);
    renderInto(image, frameIndex, frameRate);
    return image;
}

void TestCameraPattern::renderInto(QImage& image, qint64 frameIndex, int frameRate) {
    if (image.isNull())
        return;
    const int width = image.width();
    const int height = image.height();
    Canvas canvas(image);
    if (isFlash(frameIndex, frameRate)) {
        canvas.fill(0, 0, width, height, 0xffffffff);
        return;
    }

    // Bars over the top two thirds, a grey ramp below.
    const int barsHeight = height * 2 / 3;
    for (size_t i = 0; i < barColours.size(); ++i) {
        const int left = int(width * qint64(i) / qint64(barColours.size()));
        const int right = int(width * qint64(i + 1) / qint64(barColours.size()));
        canvas.fill(left, 0, right - left, barsHeight, barColours[i]);
    }
    constexpr int steps = 8;
    for (int i = 0; i < steps; ++i) {
        const int left = width * i / steps, right = width * (i + 1) / steps;
        const int level = 255 * i / (steps - 1);
        canvas.fill(left, barsHeight, right - left, height - barsHeight, qRgb(level, level, level));
    }

    // A bar that crosses the picture once every two seconds.
    const qint64 period = std::max(1, 2 * std::max(frameRate, 1));
    const qint64 phase = ((frameIndex % period) + period) % period;
    const int barWidth = std::max(2, width / 40);
    const int barLeft = int((width - barWidth) * phase / std::max<qint64>(1, period - 1));
    canvas.fill(barLeft, 0, barWidth, height, 0xff101010);

    // The frame number on a black plate.
    const int digitWidth = std::max(3, height / 16);
    const int thickness = std::max(1, digitWidth / 5);
    const int gap = std::max(1, digitWidth / 3);
    char digits[24];
    int count = 0;
    qint64 value = frameIndex < 0 ? 0 : frameIndex;
    do {
        digits[count++] = char(value % 10);
        value /= 10;
    } while (value > 0 && count < int(sizeof digits));
    const int margin = gap * 2;
    canvas.fill(0, 0, margin * 2 + count * (digitWidth + gap) - gap, margin * 2 + digitWidth * 2,
                0xff000000);
    for (int i = 0; i < count; ++i) {
        const int x = margin + i * (digitWidth + gap);
        canvas.digit(x, margin, digitWidth, thickness, digits[count - 1 - i], 0xffffffff);
    }
}

} // namespace reelbox
