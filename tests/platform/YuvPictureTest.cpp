#include "platform/media/YuvPicture.h"

#include "platform/Error.h"

#include <gtest/gtest.h>

using namespace reelbox;

namespace {

// Every sample names its plane and position (and none is black's): Y = 20 + x + 10·y,
// Cb = 100 + x + 10·y, Cr = 200 - x - 10·y.
YuvPicture numbered(QSize size) {
    YuvPicture picture(size, YuvPicture::Matrix::bt709);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            picture.plane(0)[y * picture.stride(0) + x] = std::uint8_t(20 + x + 10 * y);
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

// A crop lands where it is asked to, turned left to right when mirrored, clipped to the
// target on every side; the rest of the target stays limited-range black.
TEST(YuvPicture, CopiesACropToAPlace) {
    const YuvPicture source = numbered(QSize(8, 8));
    struct Case {
        QSize target;
        QRect crop;
        QPoint at;
        bool mirror;
    };
    for (const Case c : {Case{QSize(6, 6), QRect(2, 2, 4, 4), QPoint(2, 0), false},
                         Case{QSize(4, 4), QRect(2, 0, 4, 4), QPoint(0, 0), true},
                         Case{QSize(4, 4), QRect(0, 0, 8, 8), QPoint(-2, -4), false},
                         Case{QSize(4, 4), QRect(0, 0, 8, 8), QPoint(-2, -4), true},
                         Case{QSize(4, 4), QRect(0, 0, 4, 4), QPoint(4, 0), false},
                         Case{QSize(4, 4), QRect(0, 0, 4, 4), QPoint(4, 0), true}}) {
        YuvPicture target = numbered(c.target);
        target.fillBlack();
        target.copyFrom(source, c.crop, c.at, c.mirror);
        for (int p = 0; p < 3; ++p) {
            const int s = p == 0 ? 0 : 1; // chroma planes hold one sample per 2 × 2 pixels
            const QRect crop(c.crop.x() >> s, c.crop.y() >> s, c.crop.width() >> s,
                             c.crop.height() >> s);
            for (int y = 0; y < c.target.height() >> s; ++y)
                for (int x = 0; x < c.target.width() >> s; ++x) {
                    const QPoint local = QPoint(x, y) - QPoint(c.at.x() >> s, c.at.y() >> s);
                    const int sx = c.mirror ? crop.right() - local.x() : crop.x() + local.x();
                    const bool inside = QRect(QPoint(0, 0), crop.size()).contains(local);
                    EXPECT_EQ(sample(target, p, x, y),
                              inside ? sample(source, p, sx, crop.y() + local.y())
                              : p    ? 128
                                     : 16)
                        << "plane " << p << " at " << x << "," << y << " case " << c.at.x()
                        << (c.mirror ? " mirrored" : "");
                }
        }
    }
}

// New pictures have an even size; crops and places stay on the chroma grid.
TEST(YuvPicture, RefusesOddSizesAndCropsOffTheGrid) {
    EXPECT_TRUE(YuvPicture().isNull());
    for (const QSize odd : {QSize(5, 4), QSize(6, 3), QSize(0, 0)})
        EXPECT_THROW(YuvPicture(odd, YuvPicture::Matrix::bt709), Error) << odd.width();
    const YuvPicture source = numbered(QSize(8, 8));
    YuvPicture target(QSize(8, 8), YuvPicture::Matrix::bt709);
    EXPECT_THROW(target.copyFrom(source, QRect(1, 0, 4, 4), QPoint(0, 0), false), Error);
    EXPECT_THROW(target.copyFrom(source, QRect(0, 0, 3, 4), QPoint(0, 0), false), Error);
    EXPECT_THROW(target.copyFrom(source, QRect(0, 0, 4, 4), QPoint(1, 0), false), Error);
    EXPECT_THROW(target.copyFrom(source, QRect(6, 0, 4, 4), QPoint(0, 0), false), Error);
}

} // namespace
