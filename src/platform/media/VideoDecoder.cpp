#include "VideoDecoder.h"

#include "Error.h"
#include "internal/Av.h"
#include "internal/PictureConversion.h"

#include <cmath>

namespace reelbox {

namespace {
// Asking this far past the picture on screen seeks instead of decoding all the way.
constexpr double seekAheadSeconds = 2.0;
// A picture whose time differs from the asked time by rounding alone counts as on time.
constexpr double timeSlackSeconds = 1e-4;
} // namespace

struct VideoDecoder::State {
    QString what;
    av::InputPtr format;
    int streamIndex = -1;
    AVStream* stream = nullptr;
    av::CodecPtr decoder;
    av::PacketPtr packet = av::makePacket();
    av::FramePtr shown = av::makeFrame(); // the picture on screen at the last request
    av::FramePtr ahead = av::makeFrame(); // the next picture, already decoded
    bool haveShown = false;
    bool haveAhead = false;
    bool ended = false;
    bool draining = false;
    double endSeconds = 0;
    int rotation = 0;
    QSize naturalSize;
    PictureConverter converter;
    QImage image;
    double imagePts = std::nan("");

    void fail(int code) const { throw Error(what + QStringLiteral(": ") + av::errorText(code)); }

    double ptsOf(const AVFrame& frame) const {
        const int64_t pts =
            frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : frame.pts;
        return pts == AV_NOPTS_VALUE ? 0.0 : av::seconds(pts, stream->time_base);
    }

    void seek(double seconds) {
        const auto timestamp = int64_t(std::llround(seconds / av_q2d(stream->time_base)));
        if (av_seek_frame(format.get(), streamIndex, timestamp, AVSEEK_FLAG_BACKWARD) < 0) {
            const int64_t first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
            const int sought = av_seek_frame(format.get(), streamIndex, first,
                                             AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
            if (sought < 0)
                fail(sought);
        }
        avcodec_flush_buffers(decoder.get());
        haveShown = haveAhead = ended = draining = false;
    }

    // The next decoded picture into `into`; false at the end.
    bool receive(AVFrame* into) {
        int lastError = 0;
        for (;;) {
            const int received = avcodec_receive_frame(decoder.get(), into);
            if (received == 0)
                return true;
            if (received == AVERROR_EOF)
                return false;
            if (received != AVERROR(EAGAIN))
                fail(received);
            if (draining)
                return false;
            // Feed the next packet of the stream.
            int read = 0;
            for (;;) {
                read = av_read_frame(format.get(), packet.get());
                if (read < 0 || packet->stream_index == streamIndex)
                    break;
                av_packet_unref(packet.get());
            }
            if (read == AVERROR_EOF) {
                draining = true;
                avcodec_send_packet(decoder.get(), nullptr);
                continue;
            }
            if (read < 0)
                fail(read);
            const int sent = avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
            if (sent < 0 && sent != AVERROR(EAGAIN))
                lastError = sent; // a damaged packet: go on with the next
        }
        (void)lastError;
    }
};

VideoDecoder::VideoDecoder(const QString& path) : d(std::make_unique<State>()) {
    d->format = av::openInput(path);
    d->what = QStringLiteral("Can't read the pictures of “%1”").arg(av::displayName(path));
    d->streamIndex = av::firstStream(d->format.get(), AVMEDIA_TYPE_VIDEO);
    if (d->streamIndex < 0)
        throw Error(QStringLiteral("“%1” has no video").arg(av::displayName(path)));
    for (unsigned i = 0; i < d->format->nb_streams; ++i)
        if (int(i) != d->streamIndex)
            d->format->streams[i]->discard = AVDISCARD_ALL;
    d->stream = d->format->streams[d->streamIndex];
    const AVCodecParameters* parameters = d->stream->codecpar;
    if (parameters->width <= 0 || parameters->height <= 0)
        d->fail(AVERROR_INVALIDDATA);
    d->rotation = av::displayRotation(d->stream);
    d->naturalSize = QSize(parameters->width, parameters->height);
    if (d->rotation % 180 != 0)
        d->naturalSize.transpose();
    d->endSeconds = av::streamStartSeconds(d->format.get(), d->stream) +
                    av::streamDurationSeconds(d->format.get(), d->stream);
    // Pictures are asked for in order: frame threads keep both cores busy.
    d->decoder = av::openDecoder(d->stream, 2, FF_THREAD_FRAME | FF_THREAD_SLICE, d->what);
}

VideoDecoder::~VideoDecoder() = default;

QSize VideoDecoder::naturalSize() const {
    return d->naturalSize;
}

QImage VideoDecoder::frameAt(double asked) {
    const double seconds = asked + timeSlackSeconds;
    if (d->endSeconds > 0 && asked >= d->endSeconds)
        return {};
    const bool behind = d->haveShown && seconds < d->ptsOf(*d->shown);
    const bool farAhead = d->haveShown && seconds - d->ptsOf(*d->shown) > seekAheadSeconds &&
                          (!d->haveAhead || d->ptsOf(*d->ahead) <= seconds);
    if (behind || farAhead)
        d->seek(seconds);

    for (;;) {
        if (!d->haveAhead) {
            if (d->ended || !d->receive(d->ahead.get())) {
                d->ended = true;
                break;
            }
            d->haveAhead = true;
        }
        if (!d->haveShown || d->ptsOf(*d->ahead) <= seconds) {
            std::swap(d->shown, d->ahead);
            av_frame_unref(d->ahead.get());
            d->haveShown = true;
            d->haveAhead = false;
            if (d->ptsOf(*d->shown) > seconds)
                break; // before the first picture: show the first
            continue;
        }
        break;
    }
    if (!d->haveShown)
        d->fail(AVERROR_INVALIDDATA);
    const double pts = d->ptsOf(*d->shown);
    if (pts != d->imagePts) {
        d->image = d->converter.convert(*d->shown, d->rotation);
        d->imagePts = pts;
    }
    return d->image;
}

} // namespace reelbox
