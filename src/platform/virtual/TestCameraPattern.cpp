#include "platform/virtual/TestCameraPattern.h"

#include <QRect>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace reelbox {

namespace {

// 75 % bars: white, yellow, cyan, green, magenta, red, blue.
constexpr std::array<QRgb, 7> barColours{0xffbfbfbf, 0xffbfbf00, 0xff00bfbf, 0xff00bf00,
                                         0xffbf00bf, 0xffbf0000, 0xff0000bf};

// Segments a–g of the digits 0–9, bit 0 = a.
constexpr std::array<uint8_t, 10> digitSegments{0x3f, 0x06, 0x5b, 0x4f, 0x66,
                                                0x6d, 0x7d, 0x07, 0x7f, 0x6f};

// Rectangles of one colour into a 32-bit image.
class RgbTarget {
public:
    explicit RgbTarget(QImage& image) : m_image(image) {}
    int width() const { return m_image.width(); }
    int height() const { return m_image.height(); }

    // The rectangle is already clipped.
    void fill(int left, int top, int right, int bottom, QRgb colour) {
        for (int row = top; row < bottom; ++row) {
            auto* line = reinterpret_cast<QRgb*>(m_image.scanLine(row));
            std::fill(line + left, line + right, colour);
        }
    }

private:
    QImage& m_image;
};

// Rectangles of one colour into a 4:2:0 picture: the chroma of a rectangle covers every
// chroma sample its pixels touch.
class YuvTarget {
public:
    explicit YuvTarget(YuvPicture& picture) : m_picture(picture) {}
    int width() const { return m_picture.size().width(); }
    int height() const { return m_picture.size().height(); }

    void fill(int left, int top, int right, int bottom, QRgb colour) {
        const std::array<std::uint8_t, 3> yuv = toYuv(colour);
        for (int row = top; row < bottom; ++row)
            std::memset(m_picture.plane(0) + std::ptrdiff_t(row) * m_picture.stride(0) + left,
                        yuv[0], size_t(right - left));
        const int cLeft = left / 2, cRight = (right + 1) / 2;
        const int cTop = top / 2, cBottom = (bottom + 1) / 2;
        for (int p = 1; p < 3; ++p)
            for (int row = cTop; row < cBottom; ++row)
                std::memset(m_picture.plane(p) + std::ptrdiff_t(row) * m_picture.stride(p) + cLeft,
                            yuv[size_t(p)], size_t(cRight - cLeft));
    }

private:
    // Limited-range Y'CbCr of an sRGB colour in the picture's matrix.
    std::array<std::uint8_t, 3> toYuv(QRgb colour) const {
        const bool bt709 = m_picture.matrix() == YuvPicture::Matrix::bt709;
        const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114;
        const double r = qRed(colour) / 255.0, g = qGreen(colour) / 255.0,
                     b = qBlue(colour) / 255.0;
        const double y = kr * r + (1 - kr - kb) * g + kb * b;
        const double cb = (b - y) / (2 * (1 - kb)), cr = (r - y) / (2 * (1 - kr));
        auto byte = [](double v) { return std::uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
        return {byte(16 + 219 * y), byte(128 + 224 * cb), byte(128 + 224 * cr)};
    }

    YuvPicture& m_picture;
};

template <typename Target> class Canvas {
public:
    explicit Canvas(Target& target)
        : m_target(target), m_width(target.width()), m_height(target.height()) {}

    void fill(int x, int y, int w, int h, QRgb colour) {
        const int left = std::clamp(x, 0, m_width), right = std::clamp(x + w, 0, m_width);
        const int top = std::clamp(y, 0, m_height), bottom = std::clamp(y + h, 0, m_height);
        if (left < right && top < bottom)
            m_target.fill(left, top, right, bottom, colour);
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
    Target& m_target;
    int m_width;
    int m_height;
};

template <typename Target> void draw(Target& target, qint64 frameIndex, int frameRate) {
    const int width = target.width();
    const int height = target.height();
    Canvas<Target> canvas(target);
    if (TestCameraPattern::isFlash(frameIndex, frameRate)) {
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

} // namespace

QImage TestCameraPattern::render(qint64 frameIndex, QSize size, int frameRate) {
    QImage image(size, QImage::Format_RGB32);
    renderInto(image, frameIndex, frameRate);
    return image;
}

void TestCameraPattern::renderInto(QImage& image, qint64 frameIndex, int frameRate) {
    if (image.isNull())
        return;
    RgbTarget target(image);
    draw(target, frameIndex, frameRate);
}

void TestCameraPattern::renderInto(YuvPicture& picture, qint64 frameIndex, int frameRate) {
    if (picture.isNull())
        return;
    YuvTarget target(picture);
    draw(target, frameIndex, frameRate);
}

} // namespace reelbox
