#include "platform/media/internal/PictureConversion.h"

#include "platform/Error.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <QTransform>
#include <algorithm>

namespace reelbox {

int pictureMatrix(const AVFrame& frame) {
    // The SWS_CS_* numbers are the AVColorSpace ones for the matrices swscale knows.
    if (frame.colorspace != AVCOL_SPC_UNSPECIFIED && frame.colorspace != AVCOL_SPC_RGB)
        return frame.colorspace;
    return frame.height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
}

bool pictureFullRange(const AVFrame& frame) {
    switch (frame.format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
        return true;
    default:
        return frame.color_range == AVCOL_RANGE_JPEG;
    }
}

namespace {

[[noreturn]] void cannotConvert() {
    throw Error(QStringLiteral("Can't convert a picture: ") + av::errorText(AVERROR(EINVAL)));
}

} // namespace

SwsContext* PictureConverter::scalerFor(const Shape& shape) {
    if (m_scaler && shape == m_shape)
        return m_scaler.get();
    m_scaler.reset(sws_getContext(shape.sourceWidth, shape.sourceHeight,
                                  AVPixelFormat(shape.format), shape.width, shape.height,
                                  AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_scaler) {
        m_shape = {};
        cannotConvert();
    }
    const int* coefficients = sws_getCoefficients(shape.matrix);
    sws_setColorspaceDetails(m_scaler.get(), coefficients, shape.fullRange, coefficients, 1, 0,
                             1 << 16, 1 << 16);
    m_shape = shape;
    return m_scaler.get();
}

QImage PictureConverter::convert(const AVFrame& frame, int rotation, QSize size) {
    if (size.isEmpty())
        size = QSize(frame.width, frame.height);
    SwsContext* scaler = scalerFor({frame.width, frame.height, frame.format, size.width(),
                                    size.height(), pictureMatrix(frame), pictureFullRange(frame)});
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        throw Error(QStringLiteral("Out of memory"));
    uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(scaler, frame.data, frame.linesize, 0, frame.height, planes, strides);
    if (rotation != 0)
        image = image.transformed(QTransform().rotate(rotation));
    return image;
}

void PictureConverter::convertInto(QImage& image, const AVFrame& frame, const QRect& region) {
    const QSize size(frame.width, frame.height);
    if (image.size() != size || image.format() != QImage::Format_RGB32 || !image.isDetached()) {
        image = QImage(size, QImage::Format_RGB32);
        if (image.isNull())
            throw Error(QStringLiteral("Out of memory"));
    }

    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    if (!desc)
        cannotConvert();
    QRect area = region.isEmpty() ? QRect(QPoint(0, 0), size) : region & QRect(QPoint(0, 0), size);
    const bool simple = !(
        desc->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_HWACCEL));
    if (area.isEmpty() || !simple)
        area = QRect(QPoint(0, 0), size);

    // Whole chroma samples, and columns on 16-pixel boundaries so the rows stay aligned.
    const int alignX = std::max(16, 1 << desc->log2_chroma_w);
    const int alignY = 1 << desc->log2_chroma_h;
    const int x0 = area.left() / alignX * alignX;
    const int y0 = area.top() / alignY * alignY;
    const int x1 = std::min(size.width(), (area.right() + 1 + alignX - 1) / alignX * alignX);
    const int y1 = std::min(size.height(), (area.bottom() + 1 + alignY - 1) / alignY * alignY);

    const uint8_t* planes[4] = {};
    for (int p = 0; p < 4; ++p) {
        if (!frame.data[p])
            continue;
        // The first component stored in this plane tells its step and subsampling.
        int component = -1;
        for (int c = 0; c < desc->nb_components; ++c) {
            if (desc->comp[c].plane == p) {
                component = c;
                break;
            }
        }
        if (component < 0) {
            planes[p] = frame.data[p];
            continue;
        }
        const bool chroma =
            (component == 1 || component == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int x = chroma ? x0 >> desc->log2_chroma_w : x0;
        const int y = chroma ? y0 >> desc->log2_chroma_h : y0;
        planes[p] = frame.data[p] + ptrdiff_t(y) * frame.linesize[p] +
                    ptrdiff_t(x) * desc->comp[component].step;
    }

    SwsContext* scaler = scalerFor({x1 - x0, y1 - y0, frame.format, x1 - x0, y1 - y0,
                                    pictureMatrix(frame), pictureFullRange(frame)});
    uint8_t* out[4] = {image.bits() + ptrdiff_t(y0) * image.bytesPerLine() + ptrdiff_t(x0) * 4,
                       nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(scaler, planes, frame.linesize, 0, y1 - y0, out, strides);
}

} // namespace reelbox
