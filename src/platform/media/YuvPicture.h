#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <array>
#include <cstdint>
#include <memory>

namespace reelbox {

// An 8-bit planar 4:2:0 picture in limited range: a luma plane and two chroma planes (Cb, Cr)
// at half the width and height, both rounded up. Copies share the pixels (like a QImage, but
// without copy-on-write: writing through one copy shows in the others).
class YuvPicture {
public:
    enum class Matrix { bt601, bt709 };

    YuvPicture() = default;
    // A new picture; the size must be even. Throws Error otherwise.
    YuvPicture(QSize size, Matrix matrix);
    // Planes owned by `keeper` (kept alive as long as a copy of the picture is).
    YuvPicture(QSize size, Matrix matrix, const std::array<std::uint8_t*, 3>& planes,
               const std::array<int, 3>& strides, std::shared_ptr<void> keeper);

    bool isNull() const { return !m_keeper; }
    QSize size() const { return m_size; }
    Matrix matrix() const { return m_matrix; }
    std::uint8_t* plane(int i) const { return m_planes[size_t(i)]; }
    int stride(int i) const { return m_strides[size_t(i)]; }

    // Black everywhere (Y 16, Cb and Cr 128).
    void fillBlack();

    // Copies the `crop` of `source` (source pixels, even position and size, inside the
    // source) with its top-left corner to `at` (even) in this picture, turned left to right
    // when `mirror`. The part falling outside this picture is left out.
    void copyFrom(const YuvPicture& source, const QRect& crop, QPoint at, bool mirror);

private:
    QSize m_size;
    Matrix m_matrix = Matrix::bt709;
    std::array<std::uint8_t*, 3> m_planes{};
    std::array<int, 3> m_strides{};
    std::shared_ptr<void> m_keeper;
};

} // namespace reelbox
