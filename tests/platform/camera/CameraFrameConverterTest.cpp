#include "platform/camera/CameraFrameConverter.h"
#include "platform/camera/CameraError.h"
#include "support/FakeV4l2Device.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>
#include <vector>

using namespace reelbox;

namespace {

int at(const YuvPicture& picture, int plane, int x, int y) {
    return picture.plane(plane)[std::ptrdiff_t(y) * picture.stride(plane) + x];
}

bool convert(CameraFrameConverter& converter, const QByteArray& bytes, YuvPicture& picture) {
    return converter.convert(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                             std::size_t(bytes.size()), 0, picture);
}

TEST(CameraFrameConverter, YuyvRowsSplitIntoPlanesWithChromaOfTwoRowsAveraged) {
    constexpr int width = 4, height = 4, line = width * 2 + 6; // padded rows
    std::vector<std::uint8_t> yuyv(std::size_t(line * height), 0xee);
    auto luma = [](int x, int y) { return 20 + 10 * y + x; };
    auto cb = [](int pair, int y) { return 60 + 7 * y + 3 * pair; };
    auto cr = [](int pair, int y) { return 200 - 9 * y - 5 * pair; };
    for (int y = 0; y < height; ++y)
        for (int pair = 0; pair < width / 2; ++pair) {
            std::uint8_t* p = yuyv.data() + y * line + pair * 4;
            p[0] = std::uint8_t(luma(2 * pair, y));
            p[1] = std::uint8_t(cb(pair, y));
            p[2] = std::uint8_t(luma(2 * pair + 1, y));
            p[3] = std::uint8_t(cr(pair, y));
        }
    CameraFrameConverter converter(QStringLiteral("YUYV"), QSize(width, height));
    YuvPicture picture(QSize(width, height), YuvPicture::Matrix::bt601);
    ASSERT_TRUE(converter.convert(yuyv.data(), yuyv.size(), line, picture));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            EXPECT_EQ(at(picture, 0, x, y), luma(x, y)) << x << "," << y;
    for (int y = 0; y < height / 2; ++y)
        for (int x = 0; x < width / 2; ++x) {
            EXPECT_EQ(at(picture, 1, x, y), (cb(x, 2 * y) + cb(x, 2 * y + 1) + 1) / 2);
            EXPECT_EQ(at(picture, 2, x, y), (cr(x, 2 * y) + cr(x, 2 * y + 1) + 1) / 2);
        }
    // A frame cut short is refused rather than read past its end.
    EXPECT_FALSE(converter.convert(yuyv.data(), yuyv.size() - 1, line, picture));
}

TEST(CameraFrameConverter, Nv12ChromaIsDeinterleaved) {
    constexpr int width = 4, height = 2;
    // Y plane, then Cb Cr pairs.
    const std::vector<std::uint8_t> nv12{1, 2, 3, 4, 5, 6, 7, 8, 100, 200, 101, 201};
    CameraFrameConverter converter(QStringLiteral("NV12"), QSize(width, height));
    YuvPicture picture(QSize(width, height), YuvPicture::Matrix::bt601);
    ASSERT_TRUE(converter.convert(nv12.data(), nv12.size(), 0, picture));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(at(picture, 0, i % 4, i / 4), i + 1);
    for (int x = 0; x < 2; ++x) {
        EXPECT_EQ(at(picture, 1, x, 0), 100 + x);
        EXPECT_EQ(at(picture, 2, x, 0), 200 + x);
    }
}

TEST(CameraFrameConverter, MjpegIsDecodedToLimitedRange) {
    // Four 32 × 32 blocks, on the JPEG's own block grid: white, black, red, blue.
    QImage image(64, 64, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter(&image).fillRect(32, 0, 32, 32, Qt::black);
    QPainter(&image).fillRect(0, 32, 32, 32, Qt::red);
    QPainter(&image).fillRect(32, 32, 32, 32, Qt::blue);
    const QByteArray jpeg = v4l2::jpegFrame(image);

    CameraFrameConverter converter(QStringLiteral("MJPG"), QSize(64, 64));
    YuvPicture picture(QSize(64, 64), YuvPicture::Matrix::bt601);
    ASSERT_TRUE(convert(converter, jpeg, picture));
    struct Expected {
        const char* colour;
        int x, y, luma, cb, cr; // BT.601, limited range
    };
    for (const Expected& e :
         {Expected{"white", 16, 16, 235, 128, 128}, Expected{"black", 48, 16, 16, 128, 128},
          Expected{"red", 16, 48, 82, 90, 240}, Expected{"blue", 48, 48, 41, 240, 110}}) {
        EXPECT_NEAR(at(picture, 0, e.x, e.y), e.luma, 4) << e.colour;
        EXPECT_NEAR(at(picture, 1, e.x / 2, e.y / 2), e.cb, 5) << e.colour;
        EXPECT_NEAR(at(picture, 2, e.x / 2, e.y / 2), e.cr, 5) << e.colour;
    }

    // A damaged frame is refused, and the next good one still decodes.
    EXPECT_FALSE(convert(converter, QByteArray(2000, 0x5a), picture));
    EXPECT_TRUE(convert(converter, jpeg, picture));
    // A picture of another size than the stream's is scaled to the stream's: the blocks keep
    // their places.
    CameraFrameConverter otherSize(QStringLiteral("MJPG"), QSize(32, 32));
    YuvPicture small(QSize(32, 32), YuvPicture::Matrix::bt601);
    ASSERT_TRUE(convert(otherSize, jpeg, small));
    EXPECT_NEAR(at(small, 0, 8, 8), 235, 4) << "white";
    EXPECT_NEAR(at(small, 0, 24, 8), 16, 4) << "black";
}

TEST(CameraFrameConverter, UnreadableFormatsAndOddSizesAreRefused) {
    for (const auto& [format, size] : {std::pair{QStringLiteral("H264"), QSize(640, 480)},
                                       std::pair{QStringLiteral("RGB3"), QSize(640, 480)},
                                       std::pair{QStringLiteral("YUYV"), QSize(641, 480)}}) {
        try {
            CameraFrameConverter converter(format, size);
            ADD_FAILURE() << format.toStdString() << " was accepted";
        } catch (const CameraError& error) {
            EXPECT_EQ(error.kind(), CameraError::Kind::unsupportedFormat);
        }
    }
}

} // namespace
