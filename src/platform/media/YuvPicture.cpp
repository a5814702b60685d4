#include "platform/media/YuvPicture.h"

#include "platform/Error.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace reelbox {

namespace {

constexpr std::size_t alignment = 64;

int alignedStride(int width) {
    return (width + int(alignment) - 1) / int(alignment) * int(alignment);
}

bool even(int v) {
    return v % 2 == 0;
}

} // namespace

YuvPicture::YuvPicture(QSize size, Matrix matrix) : m_size(size), m_matrix(matrix) {
    if (size.isEmpty() || !even(size.width()) || !even(size.height()))
        throw Error(QStringLiteral("A 4:2:0 picture needs an even size, not %1 × %2")
                        .arg(size.width())
                        .arg(size.height()));
    m_strides = {alignedStride(size.width()), alignedStride(size.width() / 2),
                 alignedStride(size.width() / 2)};
    const std::size_t lumaBytes = std::size_t(m_strides[0]) * std::size_t(size.height());
    const std::size_t chromaBytes = std::size_t(m_strides[1]) * std::size_t(size.height() / 2);
    auto* bytes = static_cast<std::uint8_t*>(
        ::operator new(lumaBytes + 2 * chromaBytes, std::align_val_t(alignment)));
    m_keeper = std::shared_ptr<std::uint8_t>(
        bytes, [](std::uint8_t* p) { ::operator delete(p, std::align_val_t(alignment)); });
    m_planes = {bytes, bytes + lumaBytes, bytes + lumaBytes + chromaBytes};
}

YuvPicture::YuvPicture(QSize size, Matrix matrix, const std::array<std::uint8_t*, 3>& planes,
                       const std::array<int, 3>& strides, std::shared_ptr<void> keeper)
    : m_size(size), m_matrix(matrix), m_planes(planes), m_strides(strides),
      m_keeper(std::move(keeper)) {}

void YuvPicture::fillBlack() {
    if (isNull())
        return;
    const int chromaWidth = (m_size.width() + 1) / 2;
    const int chromaHeight = (m_size.height() + 1) / 2;
    for (int y = 0; y < m_size.height(); ++y)
        std::memset(m_planes[0] + std::ptrdiff_t(y) * m_strides[0], 16, size_t(m_size.width()));
    for (int p = 1; p < 3; ++p)
        for (int y = 0; y < chromaHeight; ++y)
            std::memset(m_planes[size_t(p)] + std::ptrdiff_t(y) * m_strides[size_t(p)], 128,
                        size_t(chromaWidth));
}

void YuvPicture::copyFrom(const YuvPicture& source, const QRect& crop, QPoint at, bool mirror) {
    if (isNull() || source.isNull() || crop.isEmpty())
        return;
    if (!even(crop.x()) || !even(crop.y()) || !even(crop.width()) || !even(crop.height()) ||
        !even(at.x()) || !even(at.y()) || !QRect(QPoint(0, 0), source.size()).contains(crop))
        throw Error(QStringLiteral("Can't copy that part of a 4:2:0 picture"));
    const QRect visible = QRect(at, crop.size()) & QRect(QPoint(0, 0), m_size);
    if (visible.isEmpty())
        return;
    // Where the visible part starts inside the copied rectangle.
    const int skipX = visible.x() - at.x();
    const int skipY = visible.y() - at.y();
    for (int p = 0; p < 3; ++p) {
        const int shift = p == 0 ? 0 : 1;
        const int rows = visible.height() >> shift;
        const int columns = visible.width() >> shift;
        const std::uint8_t* from =
            source.plane(p) + std::ptrdiff_t((crop.y() + skipY) >> shift) * source.stride(p);
        std::uint8_t* to = m_planes[size_t(p)] +
                           std::ptrdiff_t(visible.y() >> shift) * m_strides[size_t(p)] +
                           (visible.x() >> shift);
        if (!mirror) {
            from += (crop.x() + skipX) >> shift;
            for (int y = 0; y < rows; ++y)
                std::memcpy(to + std::ptrdiff_t(y) * m_strides[size_t(p)],
                            from + std::ptrdiff_t(y) * source.stride(p), size_t(columns));
        } else {
            // Output column j shows source column (right edge - 1 - skip - j).
            from += ((crop.x() + crop.width()) >> shift) - 1 - (skipX >> shift);
            for (int y = 0; y < rows; ++y) {
                const std::uint8_t* in = from + std::ptrdiff_t(y) * source.stride(p);
                std::uint8_t* out = to + std::ptrdiff_t(y) * m_strides[size_t(p)];
                for (int j = 0; j < columns; ++j)
                    out[j] = in[-j];
            }
        }
    }
}

} // namespace reelbox
