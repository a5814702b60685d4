#include "platform/camera/CameraFrameConverter.h"

#include "platform/camera/CameraError.h"
#include "platform/camera/V4l2FormatTable.h"
#include "platform/media/internal/Av.h"

#include <cstring>

extern "C" {
#include <libavutil/opt.h>
}

namespace reelbox {

namespace {

enum class Layout { yuyv, nv12, yu12, mjpg };

// The limited-range pixel format a full-range (JPEG) one stands for.
AVPixelFormat limitedEquivalent(AVPixelFormat format, bool& fullRange) {
    fullRange = true;
    switch (format) {
    case AV_PIX_FMT_YUVJ420P:
        return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
        return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
        return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
        return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
        return AV_PIX_FMT_YUV411P;
    default:
        fullRange = false;
        return format;
    }
}

} // namespace

struct CameraFrameConverter::State {
    Layout layout = Layout::yuyv;
    QSize size;
    av::CodecPtr decoder;
    av::PacketPtr packet;
    av::FramePtr frame;
    av::SwsPtr scaler;
    int scalerFormat = -1, scalerWidth = 0, scalerHeight = 0;
    bool scalerFullRange = false;

    bool decode(const std::uint8_t* data, std::size_t bytes, YuvPicture& picture);
};

CameraFrameConverter::CameraFrameConverter(const QString& pixelFormat, QSize size)
    : d(std::make_unique<State>()) {
    const std::uint32_t code = v4l2::fourccCode(pixelFormat);
    if (code == v4l2::fourcc('Y', 'U', 'Y', 'V'))
        d->layout = Layout::yuyv;
    else if (code == v4l2::fourcc('N', 'V', '1', '2'))
        d->layout = Layout::nv12;
    else if (code == v4l2::fourcc('Y', 'U', '1', '2'))
        d->layout = Layout::yu12;
    else if (code == v4l2::fourcc('M', 'J', 'P', 'G'))
        d->layout = Layout::mjpg;
    else
        throw CameraError(
            CameraError::Kind::unsupportedFormat,
            QStringLiteral("Reelbox can't read pictures in the %1 format.").arg(pixelFormat));
    if (size.isEmpty() || size.width() % 2 || size.height() % 2)
        throw CameraError(CameraError::Kind::unsupportedFormat,
                          QStringLiteral("Reelbox can't use pictures of %1 × %2 pixels.")
                              .arg(size.width())
                              .arg(size.height()));
    d->size = size;
    if (d->layout == Layout::mjpg) {
        av::installLogging();
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!codec)
            throw CameraError(CameraError::Kind::unsupportedFormat,
                              QStringLiteral("This FFmpeg has no MJPEG decoder."));
        d->decoder.reset(avcodec_alloc_context3(codec));
        if (!d->decoder)
            throw std::bad_alloc();
        d->decoder->thread_count = 1;
        av::check(avcodec_open2(d->decoder.get(), codec, nullptr),
                  QStringLiteral("Can't set up the MJPEG decoder"));
        d->packet = av::makePacket();
        d->frame = av::makeFrame();
    }
}

CameraFrameConverter::~CameraFrameConverter() = default;

QSize CameraFrameConverter::size() const {
    return d->size;
}

bool CameraFrameConverter::convert(const std::uint8_t* data, std::size_t bytes, int bytesPerLine,
                                   YuvPicture& picture) {
    const int width = d->size.width(), height = d->size.height();
    if (picture.size() != d->size || !data)
        return false;
    std::uint8_t* y = picture.plane(0);
    std::uint8_t* cb = picture.plane(1);
    std::uint8_t* cr = picture.plane(2);
    const int yStride = picture.stride(0), cbStride = picture.stride(1),
              crStride = picture.stride(2);
    switch (d->layout) {
    case Layout::yuyv: {
        const int line = bytesPerLine > 0 ? bytesPerLine : width * 2;
        if (line < width * 2 || bytes < std::size_t(line) * std::size_t(height))
            return false;
        // Y0 Cb Y1 Cr per pixel pair; chroma of two rows averaged.
        for (int row = 0; row < height; row += 2) {
            const std::uint8_t* a = data + std::ptrdiff_t(row) * line;
            const std::uint8_t* b = a + line;
            std::uint8_t* y0 = y + std::ptrdiff_t(row) * yStride;
            std::uint8_t* y1 = y0 + yStride;
            std::uint8_t* u = cb + std::ptrdiff_t(row / 2) * cbStride;
            std::uint8_t* v = cr + std::ptrdiff_t(row / 2) * crStride;
            for (int x = 0; x < width / 2; ++x) {
                y0[2 * x] = a[4 * x];
                y0[2 * x + 1] = a[4 * x + 2];
                y1[2 * x] = b[4 * x];
                y1[2 * x + 1] = b[4 * x + 2];
                u[x] = std::uint8_t((a[4 * x + 1] + b[4 * x + 1] + 1) >> 1);
                v[x] = std::uint8_t((a[4 * x + 3] + b[4 * x + 3] + 1) >> 1);
            }
        }
        return true;
    }
    case Layout::nv12:
    case Layout::yu12: {
        const int line = bytesPerLine > 0 ? bytesPerLine : width;
        const std::size_t lumaBytes = std::size_t(line) * std::size_t(height);
        const int chromaLine = d->layout == Layout::nv12 ? line : line / 2;
        if (line < width || bytes < lumaBytes + std::size_t(line) * std::size_t(height / 2))
            return false;
        for (int row = 0; row < height; ++row)
            std::memcpy(y + std::ptrdiff_t(row) * yStride, data + std::ptrdiff_t(row) * line,
                        std::size_t(width));
        const std::uint8_t* chroma = data + lumaBytes;
        for (int row = 0; row < height / 2; ++row) {
            std::uint8_t* u = cb + std::ptrdiff_t(row) * cbStride;
            std::uint8_t* v = cr + std::ptrdiff_t(row) * crStride;
            if (d->layout == Layout::nv12) {
                const std::uint8_t* in = chroma + std::ptrdiff_t(row) * chromaLine;
                for (int x = 0; x < width / 2; ++x) {
                    u[x] = in[2 * x];
                    v[x] = in[2 * x + 1];
                }
            } else {
                const std::uint8_t* inU = chroma + std::ptrdiff_t(row) * chromaLine;
                const std::uint8_t* inV = chroma + std::ptrdiff_t(chromaLine) * (height / 2) +
                                          std::ptrdiff_t(row) * chromaLine;
                std::memcpy(u, inU, std::size_t(width / 2));
                std::memcpy(v, inV, std::size_t(width / 2));
            }
        }
        return true;
    }
    case Layout::mjpg:
        return d->decode(data, bytes, picture);
    }
    return false;
}

bool CameraFrameConverter::State::decode(const std::uint8_t* data, std::size_t bytes,
                                         YuvPicture& picture) {
    // The decoder reads a little past the end; give it a padded copy.
    if (av_new_packet(packet.get(), int(bytes)) < 0)
        return false;
    std::memcpy(packet->data, data, bytes);
    const int sent = avcodec_send_packet(decoder.get(), packet.get());
    av_packet_unref(packet.get());
    if (sent < 0)
        return false;
    if (avcodec_receive_frame(decoder.get(), frame.get()) < 0)
        return false;
    struct Unref {
        AVFrame* f;
        ~Unref() { av_frame_unref(f); }
    } unref{frame.get()};
    // A camera may send another size than it agreed to: the picture is scaled to the agreed one.
    bool fullRange = false;
    const AVPixelFormat format = limitedEquivalent(AVPixelFormat(frame->format), fullRange);
    fullRange = fullRange || frame->color_range == AVCOL_RANGE_JPEG;
    if (!scaler || scalerFormat != format || scalerWidth != frame->width ||
        scalerHeight != frame->height || scalerFullRange != fullRange) {
        // The ranges must be set before the scaler is initialised: same-size conversions
        // otherwise take a plain copy that keeps full range.
        scaler.reset(sws_alloc_context());
        if (!scaler)
            return false;
        SwsContext* c = scaler.get();
        av_opt_set_int(c, "srcw", frame->width, 0);
        av_opt_set_int(c, "srch", frame->height, 0);
        av_opt_set_int(c, "src_format", format, 0);
        av_opt_set_int(c, "src_range", fullRange ? 1 : 0, 0);
        av_opt_set_int(c, "dstw", size.width(), 0);
        av_opt_set_int(c, "dsth", size.height(), 0);
        av_opt_set_int(c, "dst_format", AV_PIX_FMT_YUV420P, 0);
        av_opt_set_int(c, "dst_range", 0, 0);
        av_opt_set_int(c, "sws_flags", SWS_BILINEAR, 0);
        if (sws_init_context(c, nullptr, nullptr) < 0) {
            scaler.reset();
            return false;
        }
        scalerFormat = format;
        scalerWidth = frame->width;
        scalerHeight = frame->height;
        scalerFullRange = fullRange;
    }
    std::uint8_t* const planes[4] = {picture.plane(0), picture.plane(1), picture.plane(2), nullptr};
    const int strides[4] = {picture.stride(0), picture.stride(1), picture.stride(2), 0};
    return sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes,
                     strides) > 0;
}

} // namespace reelbox
