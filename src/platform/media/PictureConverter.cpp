#include "platform/media/PictureConverter.h"

#include "platform/Error.h"
#include "platform/media/internal/PictureConversion.h"

namespace reelbox {

namespace {

AVPixelFormat pixelFormat(QImage::Format format) {
    switch (format) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? AV_PIX_FMT_BGRA : AV_PIX_FMT_ARGB;
    case QImage::Format_RGBX8888:
    case QImage::Format_RGBA8888:
    case QImage::Format_RGBA8888_Premultiplied:
        return AV_PIX_FMT_RGBA;
    case QImage::Format_RGB888:
        return AV_PIX_FMT_RGB24;
    case QImage::Format_BGR888:
        return AV_PIX_FMT_BGR24;
    case QImage::Format_Grayscale8:
        return AV_PIX_FMT_GRAY8;
    default:
        return AV_PIX_FMT_NONE;
    }
}

int matrixOf(const YuvPicture& picture) {
    return picture.matrix() == YuvPicture::Matrix::bt709 ? SWS_CS_ITU709 : SWS_CS_ITU601;
}

[[noreturn]] void emptyPicture() {
    throw Error(QStringLiteral("Can't convert an empty picture"));
}

} // namespace

struct PictureConverter::State {
    PictureScaler scaler;
};

PictureConverter::PictureConverter() : d(std::make_unique<State>()) {}
PictureConverter::~PictureConverter() = default;

void PictureConverter::convert(const QImage& from, const YuvPicture& to) {
    if (from.isNull() || to.isNull())
        emptyPicture();
    QImage converted;
    const QImage* source = &from;
    AVPixelFormat format = pixelFormat(from.format());
    if (format == AV_PIX_FMT_NONE) {
        converted = from.convertToFormat(QImage::Format_RGB32);
        source = &converted;
        format = pixelFormat(converted.format());
    }
    // Only read: the scaler copies the source before libswscale sees it.
    Pixels pixels{format,
                  source->width(),
                  source->height(),
                  {const_cast<uint8_t*>(source->constBits()), nullptr, nullptr, nullptr},
                  {int(source->bytesPerLine()), 0, 0, 0}};
    d->scaler.scale(pixels, false, {}, pixelsOf(to), {matrixOf(to), false});
}

void PictureConverter::convert(const YuvPicture& from, QImage& to) {
    if (from.isNull() || to.isNull())
        emptyPicture();
    Pixels target = pixelsOf(to);
    if (target.format == AV_PIX_FMT_NONE) {
        to = QImage(to.size(), QImage::Format_RGB32);
        if (to.isNull())
            throw Error(QStringLiteral("Out of memory"));
        target = pixelsOf(to);
    }
    d->scaler.scale(pixelsOf(from), false, {matrixOf(from), false}, target, {});
}

} // namespace reelbox
