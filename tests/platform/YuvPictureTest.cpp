#include "platform/media/YuvPicture.h"

#include "platform/Error.h"

#include <gtest/gtest.h>

using namespace reelbox;

namespace {

// Every sample names its plane and position: Y = x + 10·y, Cb = 100 + x + 10·y, Cr = 200 - …
YuvPicture numbered(QSize size) {
    YuvPicture picture(size, YuvPicture::Matrix::bt709);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.plane(0)[y * picture.stride(0) + x] = std::uint8_t(x + 10 * y);
    for (int y = 0; y < size.height() / 2; ++y)
        for (int x = 0; x < size.width() / 2; ++x) {
            picture.plane(1)[y * picture.stride(1) + x] = std::uint8_t(100 + x + 10 * y);
            picture.plane(2)[y * picture.stride(2) + x] = std::uint8_t(200 - x - 10 * y);
        }
    return picture;
}

int sample(const YuvPicture& picture, int plane, int x, int y) {
    return picture.plane(plane)[y * picture.stride(plane) + x];
}

TEST(YuvPicture, NewPicturesHaveAnEvenSize) {
    const YuvPicture picture(QSize(6, 4), YuvPicture::Matrix::bt601);
    EXPECT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(6, 4));
    EXPECT_EQ(picture.matrix(), YuvPicture::Matrix::bt601);
    EXPECT_GE(picture.stride(0), 6);
    EXPECT_GE(picture.stride(1), 3);
    EXPECT_TRUE(YuvPicture().isNull());
    EXPECT_THROW(YuvPicture(QSize(5, 4), YuvPicture::Matrix::bt709), Error);
    EXPECT_THROW(YuvPicture(QSize(6, 3), YuvPicture::Matrix::bt709), Error);
    EXPECT_THROW(YuvPicture(QSize(0, 0), YuvPicture::Matrix::bt709), Error);
}

TEST(YuvPicture, BlackIsLimitedRangeBlack) {
    YuvPicture picture = numbered(QSize(4, 4));
    picture.fillBlack();
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(sample(picture, 0, x, y), 16);
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                EXPECT_EQ(sample(picture, p, x, y), 128);
}

TEST(YuvPicture, CopiesACropToAPlace) {
    const YuvPicture source = numbered(QSize(8, 6));
    YuvPicture target(QSize(6, 6), YuvPicture::Matrix::bt709);
    target.fillBlack();
    target.copyFrom(source, QRect(2, 2, 4, 4), QPoint(2, 0), false);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 6; ++x) {
            const bool inside = x >= 2 && y < 4;
            EXPECT_EQ(sample(target, 0, x, y), inside ? sample(source, 0, x, y + 2) : 16)
                << x << "," << y;
        }
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x) {
                const bool inside = x >= 1 && y < 2;
                EXPECT_EQ(sample(target, p, x, y), inside ? sample(source, p, x, y + 1) : 128)
                    << p << ": " << x << "," << y;
            }
}

TEST(YuvPicture, MirroredCopiesTurnLeftToRight) {
    const YuvPicture source = numbered(QSize(8, 4));
    YuvPicture target(QSize(4, 4), YuvPicture::Matrix::bt709);
    target.copyFrom(source, QRect(2, 0, 4, 4), QPoint(0, 0), true);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(sample(target, 0, x, y), sample(source, 0, 5 - x, y)) << x << "," << y;
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                EXPECT_EQ(sample(target, p, x, y), sample(source, p, 2 - x, y)) << p;
}

// What falls outside the target is left out, on every side, mirrored or not.
TEST(YuvPicture, CopiesAreClippedToTheTarget) {
    const YuvPicture source = numbered(QSize(8, 8));
    for (const bool mirror : {false, true}) {
        YuvPicture target(QSize(4, 4), YuvPicture::Matrix::bt709);
        target.fillBlack();
        target.copyFrom(source, QRect(0, 0, 8, 8), QPoint(-2, -4), mirror);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) {
                const int sx = mirror ? 7 - (x + 2) : x + 2;
                EXPECT_EQ(sample(target, 0, x, y), sample(source, 0, sx, y + 4))
                    << (mirror ? "mirrored " : "") << x << "," << y;
            }
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x) {
                const int sx = mirror ? 3 - (x + 1) : x + 1;
                EXPECT_EQ(sample(target, 1, x, y), sample(source, 1, sx, y + 2));
            }
        // Entirely outside: nothing changes.
        target.fillBlack();
        target.copyFrom(source, QRect(0, 0, 4, 4), QPoint(4, 0), mirror);
        EXPECT_EQ(sample(target, 0, 3, 0), 16);
    }
}

TEST(YuvPicture, RefusesCropsOffTheGrid) {
    const YuvPicture source = numbered(QSize(8, 8));
    YuvPicture target(QSize(8, 8), YuvPicture::Matrix::bt709);
    EXPECT_THROW(target.copyFrom(source, QRect(1, 0, 4, 4), QPoint(0, 0), false), Error);
    EXPECT_THROW(target.copyFrom(source, QRect(0, 0, 3, 4), QPoint(0, 0), false), Error);
    EXPECT_THROW(target.copyFrom(source, QRect(0, 0, 4, 4), QPoint(1, 0), false), Error);
    EXPECT_THROW(target.copyFrom(source, QRect(6, 0, 4, 4), QPoint(0, 0), false), Error);
}

} // namespace
