#include "PictureConversion.h"

#include "Error.h"

#include <QTransform>

namespace reelbox {

namespace {

int colourMatrix(const AVFrame& frame) {
    if (frame.colorspace != AVCOL_SPC_UNSPECIFIED)
        return frame.colorspace;
    return frame.height >= 720 ? SWS_CS_ITU709 : SWS_CS_ITU601;
}

bool fullRange(const AVFrame& frame) {
    switch (frame.format) {
    case AV_PIX_FMT_YUVJ420P:
    case AV_PIX_FMT_YUVJ422P:
    case AV_PIX_FMT_YUVJ444P:
        return true;
    default:
        return frame.color_range == AVCOL_RANGE_JPEG;
    }
}

} // namespace

QImage PictureConverter::convert(const AVFrame& frame, int rotation) {
    m_scaler.reset(sws_getCachedContext(m_scaler.release(), frame.width, frame.height,
                                        AVPixelFormat(frame.format), frame.width, frame.height,
                                        AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr));
    if (!m_scaler)
        throw Error(QStringLiteral("Can't convert a picture: ") + av::errorText(AVERROR(EINVAL)));
    const int* coefficients = sws_getCoefficients(colourMatrix(frame));
    sws_setColorspaceDetails(m_scaler.get(), coefficients, fullRange(frame), coefficients, 1, 0,
                             1 << 16, 1 << 16);
    QImage image(frame.width, frame.height, QImage::Format_RGB32);
    if (image.isNull())
        throw Error(QStringLiteral("Out of memory"));
    uint8_t* planes[4] = {image.bits(), nullptr, nullptr, nullptr};
    int strides[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(m_scaler.get(), frame.data, frame.linesize, 0, frame.height, planes, strides);
    if (rotation != 0)
        image = image.transformed(QTransform().rotate(rotation));
    return image;
}

} // namespace reelbox
