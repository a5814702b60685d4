#include "platform/media/internal/Av.h"

#include "platform/Error.h"

extern "C" {
#include <libavutil/display.h>
}

#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <algorithm>
#include <cmath>
#include <mutex>

namespace reelbox::av {

namespace {

// Quiet by default; QT_LOGGING_RULES="reelbox.media.debug=true" shows FFmpeg's log.
Q_LOGGING_CATEGORY(lcMedia, "reelbox.media", QtWarningMsg)

void logCallback(void* object, int level, const char* format, va_list arguments) {
    if (level > av_log_get_level())
        return;
    const bool severe = level <= AV_LOG_FATAL;
    if (severe ? !lcMedia().isWarningEnabled() : !lcMedia().isDebugEnabled())
        return;
    thread_local int printPrefix = 1;
    char line[1024];
    av_log_format_line2(object, level, format, arguments, line, sizeof line, &printPrefix);
    const QString text = QString::fromUtf8(line).trimmed();
    if (text.isEmpty())
        return;
    if (severe)
        qCWarning(lcMedia).noquote() << text;
    else
        qCDebug(lcMedia).noquote() << text;
}

} // namespace

void OutputDeleter::operator()(AVFormatContext* context) const {
    if (context->pb && !(context->oformat->flags & AVFMT_NOFILE))
        avio_closep(&context->pb);
    avformat_free_context(context);
}

FramePtr makeFrame() {
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw Error(QStringLiteral("Out of memory"));
    return frame;
}

PacketPtr makePacket() {
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        throw Error(QStringLiteral("Out of memory"));
    return packet;
}

QString errorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

QString displayName(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() ? path : name;
}

int check(int code, const QString& what) {
    if (code < 0)
        throw Error(what + QStringLiteral(": ") + errorText(code));
    return code;
}

void installLogging() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_WARNING);
        av_log_set_callback(logCallback);
    });
}

InputPtr openInput(const QString& path) {
    installLogging();
    const QString what = QStringLiteral("Can't open “%1”").arg(displayName(path));
    if (!QFileInfo(path).isFile())
        throw Error(what + QStringLiteral(": ") + errorText(AVERROR(ENOENT)));

    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* raw = nullptr;
    const QByteArray url = "file:" + QFile::encodeName(path);
    const int opened = avformat_open_input(&raw, url.constData(), nullptr, &options);
    av_dict_free(&options);
    check(opened, what);
    InputPtr format(raw);
    check(avformat_find_stream_info(format.get(), nullptr), what);
    return format;
}

int firstStream(const AVFormatContext* format, AVMediaType kind) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        if (stream->codecpar->codec_type != kind)
            continue;
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC)
            continue;
        return int(i);
    }
    return -1;
}

double streamStartSeconds(const AVFormatContext* format, const AVStream* stream) {
    if (stream->start_time != AV_NOPTS_VALUE)
        return seconds(stream->start_time, stream->time_base);
    if (format->start_time != AV_NOPTS_VALUE)
        return seconds(format->start_time, AV_TIME_BASE_Q);
    return 0.0;
}

double streamDurationSeconds(const AVFormatContext* format, const AVStream* stream) {
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        return seconds(stream->duration, stream->time_base);
    if (format->duration != AV_NOPTS_VALUE && format->duration > 0) {
        // The container's duration runs from its own start; trim to where the stream starts.
        const double containerStart = format->start_time != AV_NOPTS_VALUE
                                          ? seconds(format->start_time, AV_TIME_BASE_Q)
                                          : 0.0;
        const double end = containerStart + seconds(format->duration, AV_TIME_BASE_Q);
        return std::max(0.0, end - streamStartSeconds(format, stream));
    }
    return 0.0;
}

int displayRotation(const AVStream* stream) {
    size_t size = 0;
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!matrix || size < 9 * sizeof(int32_t))
        return 0;
    // FFmpeg reports the counter-clockwise angle; the picture turns the other way.
    const double counterClockwise =
        av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
    if (std::isnan(counterClockwise))
        return 0;
    const long quarterTurns = std::lround(-counterClockwise / 90.0);
    return int(((quarterTurns % 4) + 4) % 4) * 90;
}

CodecPtr openDecoder(const AVStream* stream, int threads, int threadType, const QString& what) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec)
        throw Error(what + QStringLiteral(": ") + errorText(AVERROR_DECODER_NOT_FOUND));
    CodecPtr context(avcodec_alloc_context3(codec));
    if (!context)
        throw Error(QStringLiteral("Out of memory"));
    check(avcodec_parameters_to_context(context.get(), stream->codecpar), what);
    context->pkt_timebase = stream->time_base;
    context->thread_count = threads;
    context->thread_type = threadType;
    check(avcodec_open2(context.get(), codec, nullptr), what);
    return context;
}

void repairVideoDts(AVPacket& packet, int64_t& lastDts, int64_t maxDelay) {
    if (packet.pts != AV_NOPTS_VALUE) {
        const bool plausible = packet.dts != AV_NOPTS_VALUE && packet.dts <= packet.pts &&
                               packet.pts - packet.dts <= maxDelay &&
                               (lastDts == AV_NOPTS_VALUE || packet.dts > lastDts);
        if (!plausible)
            packet.dts = lastDts == AV_NOPTS_VALUE ? packet.pts : std::max(packet.pts, lastDts + 1);
    }
    if (packet.dts != AV_NOPTS_VALUE)
        lastDts = packet.dts;
}

QString fourcc(uint32_t tag) {
    if (tag == 0)
        return {};
    QString text;
    for (int i = 0; i < 4; ++i) {
        const char c = char((tag >> (8 * i)) & 0xff);
        text += c >= 0x20 && c < 0x7f ? QChar::fromLatin1(c) : QChar(u'?');
    }
    return text;
}

VideoInput openVideo(const QString& path, const QString& what) {
    VideoInput input;
    input.format = openInput(path);
    input.streamIndex = firstStream(input.format.get(), AVMEDIA_TYPE_VIDEO);
    if (input.streamIndex < 0)
        throw Error(QStringLiteral("“%1” has no video").arg(displayName(path)));
    for (unsigned i = 0; i < input.format->nb_streams; ++i)
        if (int(i) != input.streamIndex)
            input.format->streams[i]->discard = AVDISCARD_ALL;
    input.stream = input.format->streams[input.streamIndex];
    const AVCodecParameters* parameters = input.stream->codecpar;
    if (parameters->width <= 0 || parameters->height <= 0)
        throw Error(what + QStringLiteral(": ") + errorText(AVERROR_INVALIDDATA));
    input.rotation = displayRotation(input.stream);
    input.naturalSize = QSize(parameters->width, parameters->height);
    if (input.rotation % 180 != 0)
        input.naturalSize.transpose();
    return input;
}

} // namespace reelbox::av
