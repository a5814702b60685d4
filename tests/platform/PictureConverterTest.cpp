#include "platform/media/PictureConverter.h"

#include "platform/Error.h"

#include <QImage>
#include <array>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

using namespace reelbox;

namespace {

// Bytes followed by `guard` known bytes and then a page that can't be touched: a write past
// the end changes the guard (or faults), a read past the end faults.
class GuardedBytes {
public:
    GuardedBytes(size_t size, size_t guard) : m_size(size), m_guard(guard) {
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        m_span = (size + guard + page - 1) / page * page + page;
        void* base =
            mmap(nullptr, m_span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (base == MAP_FAILED)
            throw std::bad_alloc();
        m_base = static_cast<uint8_t*>(base);
        mprotect(m_base + m_span - page, page, PROT_NONE);
        m_data = m_base + m_span - page - guard - size;
        std::memset(m_data + size, 0xa5, guard);
    }
    ~GuardedBytes() { munmap(m_base, m_span); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;

    uint8_t* data() const { return m_data; }
    bool guardIntact() const {
        for (size_t i = 0; i < m_guard; ++i)
            if (m_data[m_size + i] != 0xa5)
                return false;
        return true;
    }

private:
    uint8_t* m_base = nullptr;
    uint8_t* m_data = nullptr;
    size_t m_size, m_guard, m_span = 0;
};

// Tightly packed 4:2:0 planes, each in its own guarded buffer.
struct GuardedYuv {
    GuardedYuv(QSize size, size_t guard)
        : planes{std::make_unique<GuardedBytes>(size_t(size.width() * size.height()), guard),
                 std::make_unique<GuardedBytes>(size_t(size.width() * size.height() / 4), guard),
                 std::make_unique<GuardedBytes>(size_t(size.width() * size.height() / 4), guard)},
          picture(size, YuvPicture::Matrix::bt601,
                  {planes[0]->data(), planes[1]->data(), planes[2]->data()},
                  {size.width(), size.width() / 2, size.width() / 2}, std::make_shared<int>()) {}
    bool guardsIntact() const {
        return planes[0]->guardIntact() && planes[1]->guardIntact() && planes[2]->guardIntact();
    }
    std::array<std::unique_ptr<GuardedBytes>, 3> planes;
    YuvPicture picture;
};

// An orange, and its limited-range BT.601 samples from the matrix' definition.
constexpr int red = 200, green = 120, blue = 40;
const double luma = 0.299 * red + 0.587 * green + 0.114 * blue;
const int y601 = int(std::lround(16 + 219 * luma / 255));
const int cb601 = int(std::lround(128 + 224 * (blue - luma) / (1.772 * 255)));
const int cr601 = int(std::lround(128 + 224 * (red - luma) / (1.402 * 255)));

std::vector<QSize> sizes() {
    std::vector<QSize> all;
    for (int width = 2; width <= 64; width += 2)
        all.emplace_back(width, 6);
    for (const QSize size :
         {QSize(200, 120), QSize(360, 640), QSize(1080, 1920), QSize(1272, 720), QSize(1276, 720)})
        all.push_back(size);
    return all;
}

// RGB into tight planes and back: nothing read or written past the pictures (RGB888 rows end at
// any byte), the colour right everywhere; null pictures are refused.
TEST(PictureConverter, ConversionsStayInsideBothPictures) {
    PictureConverter converter;
    QImage empty(4, 4, QImage::Format_RGB32);
    EXPECT_THROW(converter.convert(YuvPicture(), empty), Error);
    EXPECT_THROW(converter.convert(empty, YuvPicture()), Error);
    for (const QSize size : sizes()) {
        for (const QImage::Format format : {QImage::Format_RGB32, QImage::Format_RGB888}) {
            for (const int sourceWidth : {size.width(), size.width() - 1}) {
                QImage filled(QSize(sourceWidth, size.height()), format);
                filled.fill(qRgb(red, green, blue));
                // Rows packed without padding, the last one ending at the unreadable page.
                const qsizetype row = qsizetype(sourceWidth) * filled.depth() / 8;
                GuardedBytes bytes(size_t(row * size.height()), 0);
                for (int y = 0; y < size.height(); ++y)
                    std::memcpy(bytes.data() + y * row, filled.constScanLine(y), size_t(row));
                const QImage source(bytes.data(), sourceWidth, size.height(), row, format);
                GuardedYuv target(size, 64);
                converter.convert(source, target.picture);
                ASSERT_TRUE(target.guardsIntact())
                    << size.width() << "x" << size.height() << " from " << sourceWidth;
                const YuvPicture& p = target.picture;
                for (int y = 0; y < size.height(); y += std::max(1, size.height() / 7))
                    for (int x = 0; x < size.width(); ++x)
                        ASSERT_NEAR(p.plane(0)[y * p.stride(0) + x], y601, 2) << x << "," << y;
                for (int x = 0; x < size.width() / 2; ++x) {
                    ASSERT_NEAR(p.plane(1)[x], cb601, 2) << size.width() << ": " << x;
                    ASSERT_NEAR(p.plane(2)[x], cr601, 2) << size.width() << ": " << x;
                }
            }
        }

        // Back into an RGB picture of tight rows: no byte after its last pixel changes.
        GuardedYuv source(size, 0);
        const YuvPicture& p = source.picture;
        const int samples[] = {y601, cb601, cr601};
        for (int plane = 0; plane < 3; ++plane)
            std::memset(p.plane(plane), samples[plane],
                        size_t(p.stride(plane) * size.height() / (plane ? 2 : 1)));
        for (const QSize targetSize : {size, QSize(size.width() - 1, size.height() + 1)}) {
            const qsizetype stride = qsizetype(targetSize.width()) * 4;
            GuardedBytes bytes(size_t(stride * targetSize.height()), 64);
            QImage target(bytes.data(), targetSize.width(), targetSize.height(), stride,
                          QImage::Format_RGB32);
            converter.convert(p, target);
            ASSERT_EQ(target.constBits(), bytes.data()); // written in place
            ASSERT_TRUE(bytes.guardIntact()) << targetSize.width() << "x" << targetSize.height();
            for (const QPoint at : {QPoint(0, 0), QPoint(targetSize.width() - 1, 0),
                                    QPoint(targetSize.width() - 1, targetSize.height() - 1)}) {
                const QRgb got = target.pixel(at);
                ASSERT_NEAR(qRed(got), red, 3) << targetSize.width() << " " << at.x();
                ASSERT_NEAR(qGreen(got), green, 3) << targetSize.width() << " " << at.x();
                ASSERT_NEAR(qBlue(got), blue, 3) << targetSize.width() << " " << at.x();
            }
        }
    }
}

} // namespace
