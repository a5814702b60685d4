#include "platform/media/internal/PictureConversion.h"

#include "platform/Error.h"

extern "C" {
#include <libavutil/imgutils.h>
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

bool isRgb(AVPixelFormat format) {
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(format);
    return desc && ((desc->flags & AV_PIX_FMT_FLAG_RGB) || desc->nb_components < 3);
}

// A frame for the pixels' shape laid out as FFmpeg lays out its own (rows aligned to 64 bytes,
// rows and bytes of padding after the last), reused while it has that shape and nobody else
// holds it.
AVFrame* bufferFor(av::FramePtr& frame, AVPixelFormat format, int width, int height) {
    if (frame && frame->format == format && frame->width == width && frame->height == height &&
        av_frame_is_writable(frame.get()))
        return frame.get();
    frame = av::makeFrame();
    frame->format = format;
    frame->width = width;
    frame->height = height;
    if (av_frame_get_buffer(frame.get(), 64) < 0) {
        frame.reset();
        throw Error(QStringLiteral("Out of memory"));
    }
    return frame.get();
}

// Copies the pixels only: each row's own bytes, nothing after them.
void copyPixels(const Pixels& from, uint8_t* const to[4], const int toLinesize[4]) {
    const uint8_t* source[4] = {from.data[0], from.data[1], from.data[2], from.data[3]};
    uint8_t* target[4] = {to[0], to[1], to[2], to[3]};
    int targetLinesize[4] = {toLinesize[0], toLinesize[1], toLinesize[2], toLinesize[3]};
    av_image_copy(target, targetLinesize, source, from.linesize.data(), from.format, from.width,
                  from.height);
}

} // namespace

Pixels pixelsOf(const AVFrame& frame) {
    Pixels pixels{AVPixelFormat(frame.format), frame.width, frame.height, {}, {}};
    for (int p = 0; p < 4; ++p) {
        pixels.data[size_t(p)] = frame.data[p];
        pixels.linesize[size_t(p)] = frame.linesize[p];
    }
    return pixels;
}

Pixels pixelsOf(QImage& image) {
    switch (image.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return {Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB,
                image.width(),
                image.height(),
                {image.bits(), nullptr, nullptr, nullptr},
                {int(image.bytesPerLine()), 0, 0, 0}};
    default:
        return {};
    }
}

Pixels pixelsOf(const YuvPicture& picture) {
    return {AV_PIX_FMT_YUV420P,
            picture.size().width(),
            picture.size().height(),
            {picture.plane(0), picture.plane(1), picture.plane(2), nullptr},
            {picture.stride(0), picture.stride(1), picture.stride(2), 0}};
}

YuvPicture yuvPictureOf(const AVFrame& frame, YuvPicture::Matrix matrix) {
    std::shared_ptr<AVFrame> reference(av_frame_clone(&frame),
                                       [](AVFrame* f) { av_frame_free(&f); });
    if (!reference)
        throw Error(QStringLiteral("Out of memory"));
    return YuvPicture(QSize(frame.width, frame.height), matrix,
                      {reference->data[0], reference->data[1], reference->data[2]},
                      {reference->linesize[0], reference->linesize[1], reference->linesize[2]},
                      reference);
}

SwsContext* PictureScaler::contextFor(const Shape& shape) {
    if (m_context && shape == m_shape)
        return m_context.get();
    m_context.reset(sws_getContext(
        shape.sourceWidth, shape.sourceHeight, AVPixelFormat(shape.sourceFormat), shape.width,
        shape.height, AVPixelFormat(shape.targetFormat), SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_context) {
        m_shape = {};
        cannotConvert();
    }
    const int* coefficients = sws_getCoefficients(shape.matrix);
    sws_setColorspaceDetails(m_context.get(), coefficients, shape.sourceFull, coefficients,
                             shape.targetFull, 0, 1 << 16, 1 << 16);
    m_shape = shape;
    return m_context.get();
}

void PictureScaler::scale(const Pixels& source, bool sourceFromFFmpeg, const Colours& sourceColours,
                          const Pixels& target, const Colours& targetColours) {
    if (source.width <= 0 || source.height <= 0 || target.width <= 0 || target.height <= 0 ||
        source.format == AV_PIX_FMT_NONE || target.format == AV_PIX_FMT_NONE)
        cannotConvert();
    const bool sourceRgb = isRgb(source.format);
    const bool targetRgb = isRgb(target.format);
    const Colours& yuv = sourceRgb ? targetColours : sourceColours;
    SwsContext* context =
        contextFor({source.format, source.width, source.height, target.format, target.width,
                    target.height, yuv.matrix, sourceRgb ? 1 : int(sourceColours.fullRange),
                    targetRgb ? 1 : int(targetColours.fullRange)});

    const uint8_t* in[4] = {source.data[0], source.data[1], source.data[2], source.data[3]};
    const int* inLinesize = source.linesize.data();
    if (!sourceFromFFmpeg) {
        AVFrame* copy = bufferFor(m_in, source.format, source.width, source.height);
        copyPixels(source, copy->data, copy->linesize);
        std::copy_n(copy->data, 4, in);
        inLinesize = copy->linesize;
    }
    AVFrame* out = bufferFor(m_out, target.format, target.width, target.height);
    sws_scale(context, in, inLinesize, 0, source.height, out->data, out->linesize);

    uint8_t* const to[4] = {target.data[0], target.data[1], target.data[2], target.data[3]};
    copyPixels(pixelsOf(*out), to, target.linesize.data());
}

QImage FrameConverter::convert(const AVFrame& frame, int rotation, QSize size) {
    if (size.isEmpty())
        size = QSize(frame.width, frame.height);
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        throw Error(QStringLiteral("Out of memory"));
    m_scaler.scale(pixelsOf(frame), true, {pictureMatrix(frame), pictureFullRange(frame)},
                   pixelsOf(image), {});
    if (rotation != 0)
        image = image.transformed(QTransform().rotate(rotation));
    return image;
}

void FrameConverter::convertInto(QImage& image, const AVFrame& frame, const QRect& region) {
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

    // Whole chroma samples, and source columns on 16-pixel boundaries so its rows stay aligned.
    const int alignX = std::max(16, 1 << desc->log2_chroma_w);
    const int alignY = 1 << desc->log2_chroma_h;
    const int x0 = area.left() / alignX * alignX;
    const int y0 = area.top() / alignY * alignY;
    const int x1 = std::min(size.width(), (area.right() + 1 + alignX - 1) / alignX * alignX);
    const int y1 = std::min(size.height(), (area.bottom() + 1 + alignY - 1) / alignY * alignY);

    Pixels from = pixelsOf(frame);
    from.width = x1 - x0;
    from.height = y1 - y0;
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
        if (component < 0)
            continue;
        const bool chroma =
            (component == 1 || component == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
        const int x = chroma ? x0 >> desc->log2_chroma_w : x0;
        const int y = chroma ? y0 >> desc->log2_chroma_h : y0;
        from.data[size_t(p)] = frame.data[p] + ptrdiff_t(y) * frame.linesize[p] +
                               ptrdiff_t(x) * desc->comp[component].step;
    }

    Pixels to = pixelsOf(image);
    to.width = x1 - x0;
    to.height = y1 - y0;
    to.data[0] += ptrdiff_t(y0) * to.linesize[0] + ptrdiff_t(x0) * 4;
    m_scaler.scale(from, true, {pictureMatrix(frame), pictureFullRange(frame)}, to, {});
}

} // namespace reelbox
