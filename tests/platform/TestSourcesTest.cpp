#include "platform/virtual/TestCameraPattern.h"
#include "platform/virtual/TestMicrophoneSignal.h"

#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace reelbox;

namespace {

// A white flash on the first frame of each second (at the rate given), a bar that moves
// between frames and the frame number top left; rendering into a picture keeps its pixels.
TEST(TestCameraPattern, FlashesEverySecondMovesAndShowsTheFrameNumber) {
    const QSize size(320, 180);
    QImage white(size, QImage::Format_RGB32);
    white.fill(qRgb(255, 255, 255));
    for (const qint64 frame : {0, 30, 60, 900})
        EXPECT_TRUE(TestCameraPattern::render(frame, size) == white) << frame;
    for (const qint64 frame : {1, 29, 31, 59})
        EXPECT_FALSE(TestCameraPattern::render(frame, size) == white) << frame;
    EXPECT_TRUE(TestCameraPattern::render(25, size, 25) == white);
    EXPECT_FALSE(TestCameraPattern::render(30, size, 25) == white);

    QImage image(size, QImage::Format_RGB32);
    const uchar* bits = image.constBits();
    TestCameraPattern::renderInto(image, 41);
    EXPECT_EQ(image.constBits(), bits);
    const QImage b = TestCameraPattern::render(42, size);
    // The bottom half holds the sweeping bar and no digits: it moves between frames.
    EXPECT_NE(image.copy(0, 120, 320, 60), b.copy(0, 120, 320, 60));
    // At the same bar position (two seconds apart) only the number differs, top left.
    const QImage c = TestCameraPattern::render(42 + 60, size);
    EXPECT_EQ(b.copy(0, 120, 320, 60), c.copy(0, 120, 320, 60));
    EXPECT_NE(b.copy(0, 0, 80, 40), c.copy(0, 0, 80, 40));
    TestCameraPattern::renderInto(image, 42);
    EXPECT_EQ(image, b);

    // In YUV it is the same picture in BT.601, every pixel (the thin strokes of the number too).
    for (const qint64 frame : {41, 1234567}) {
        const QImage rgb = TestCameraPattern::render(frame, size);
        YuvPicture yuv(size, YuvPicture::Matrix::bt601);
        TestCameraPattern::renderInto(yuv, frame);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                const QRgb p = rgb.pixel(x, y);
                const double expected =
                    16 + 219 * (0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p)) / 255;
                ASSERT_NEAR(yuv.plane(0)[y * yuv.stride(0) + x], expected, 1.0) << x << "," << y;
            }
    }
}

// A click at every second on every channel, the tone never reaching its level elsewhere; any
// stretch, filled or sampled, matches the whole.
TEST(TestMicrophoneSignal, ClicksAndAToneOfItsOwnOnEveryChannel) {
    const TestMicrophoneSignal signal(3);
    const qint64 frames = 3 * 48000;
    std::vector<float> samples(size_t(3 * frames));
    signal.fill(samples.data(), 0, frames);
    for (int second = 0; second < 3; ++second) {
        for (int c = 0; c < 3; ++c) {
            const size_t at = size_t(second * 48000 * 3 + c);
            EXPECT_EQ(samples[at], TestMicrophoneSignal::clickAmplitude);
            EXPECT_LT(samples[at + 3], 0.0f); // the burst alternates
        }
    }
    float loudest = 0;
    for (qint64 n = signal.clickFrames(); n < 48000; ++n)
        loudest = std::max(loudest, std::abs(samples[size_t(n * 3)]));
    EXPECT_NEAR(loudest, TestMicrophoneSignal::toneAmplitude, 1e-3);
    // Each channel has a steady tone of its own, below half the rate for many channels too.
    for (int c = 0; c < 3; ++c) {
        const int frequency = signal.toneFrequency(c);
        for (int other = 0; other < c; ++other)
            EXPECT_NE(frequency, signal.toneFrequency(other));
        for (qint64 n = signal.clickFrames(); n < 48000; n += 101) {
            const double expected = TestMicrophoneSignal::toneAmplitude *
                                    std::sin(2 * std::numbers::pi * frequency * n / 48000.0);
            ASSERT_NEAR(samples[size_t((48000 + n) * 3 + c)], expected, 1e-6) << c << " " << n;
        }
    }
    const TestMicrophoneSignal many(200, 8000);
    for (int c = 0; c < 200; ++c) {
        EXPECT_GT(many.toneFrequency(c), 0);
        EXPECT_LT(many.toneFrequency(c), 4000);
    }

    std::vector<float> piece(size_t(3 * 1000));
    for (const qint64 start : {0, 47990, 12345, 96000, 143000}) {
        signal.fill(piece.data(), start, 1000);
        for (qint64 i = 0; i < 1000; ++i)
            for (int c = 0; c < 3; ++c) {
                ASSERT_EQ(piece[size_t(i * 3 + c)], samples[size_t((start + i) * 3 + c)]);
                ASSERT_EQ(signal.sample(c, start + i), samples[size_t((start + i) * 3 + c)]);
            }
    }
}

} // namespace
