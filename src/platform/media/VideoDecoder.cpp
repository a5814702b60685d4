#include "platform/media/VideoDecoder.h"

#include "platform/Error.h"
#include "platform/media/internal/Av.h"
#include "platform/media/internal/PictureConversion.h"

#include <algorithm>
#include <cmath>

namespace reelbox {

namespace {
// Asking this far past the picture on screen seeks instead of decoding all the way, when a
// key frame lies in between.
constexpr double seekAheadSeconds = 2.0;
// Seeks that land on a key frame shown after the time asked for go back this many times.
constexpr int seekAttempts = 4;
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
    int64_t startTicks = 0; // stream ticks
    double endSeconds = 0;  // 0 when the duration is unknown
    // A key frame is shown this many stream ticks after it is decoded (the reordering delay);
    // learnt from the key frames read so far.
    int64_t keyDelay = 0;
    int rotation = 0;
    QSize naturalSize;
    PictureConverter converter;
    QImage image;
    int64_t imagePts = AV_NOPTS_VALUE;
    QRect imageRegion; // what of `image` was converted; empty = all of it

    void fail(int code) const { throw Error(what + QStringLiteral(": ") + av::errorText(code)); }

    // Times are compared in stream ticks: a time asked for in seconds is rounded to the
    // nearest tick, so a frame boundary computed another way (1/30 s from composition ticks)
    // still finds the frame that starts there.
    int64_t toStream(double seconds) const {
        const double ticks = seconds / av_q2d(stream->time_base);
        if (std::isnan(ticks))
            return startTicks;
        return int64_t(std::llround(std::clamp(ticks, -9.0e18, 9.0e18)));
    }
    int64_t ptsOf(const AVFrame& frame) const {
        const int64_t pts =
            frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : frame.pts;
        return pts == AV_NOPTS_VALUE ? startTicks : pts;
    }
    bool isFirstPicture(int64_t pts) const { return pts <= startTicks; }

    void seekTo(int64_t timestamp) {
        if (av_seek_frame(format.get(), streamIndex, timestamp, AVSEEK_FLAG_BACKWARD) < 0) {
            // Before the first key frame: start from the beginning.
            const int64_t first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
            const int sought = av_seek_frame(format.get(), streamIndex, first,
                                             AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
            if (sought < 0)
                fail(sought);
        }
        avcodec_flush_buffers(decoder.get());
        haveShown = haveAhead = ended = draining = false;
    }

    // Positions decoding at the key frame shown at or before `time` and decodes it into
    // `ahead`. An index of decoding times (as some containers keep) may lead to a key frame
    // shown after the time; then the search goes one key frame further back.
    void seekBefore(int64_t time) {
        int64_t target = time;
        for (int attempt = 1;; ++attempt) {
            seekTo(target);
            if (!receive(ahead.get())) {
                ended = true;
                return;
            }
            haveAhead = true;
            const int64_t found = ptsOf(*ahead);
            if (found <= time || isFirstPicture(found) || attempt == seekAttempts)
                return;
            target = std::min(target, found - keyDelay) - 1;
        }
    }

    // Whether jumping ahead to `time` is better done by seeking.
    bool worthSeeking(int64_t time) const {
        const int64_t shownPts = ptsOf(*shown);
        if (av::seconds(time - shownPts, stream->time_base) <= seekAheadSeconds ||
            (haveAhead && ptsOf(*ahead) > time))
            return false;
        const int entry = av_index_search_timestamp(stream, time - keyDelay, AVSEEK_FLAG_BACKWARD);
        if (entry < 0)
            return true;
        // Only when the key frame to start from is past the picture on screen.
        return avformat_index_get_entry(stream, entry)->timestamp + keyDelay > shownPts;
    }

    // The next packet of the stream into `packet`; false at the end of the file.
    bool readPacket() {
        for (;;) {
            const int read = av_read_frame(format.get(), packet.get());
            if (read == AVERROR_EOF)
                return false;
            if (read < 0)
                fail(read);
            if (packet->stream_index == streamIndex)
                break;
            av_packet_unref(packet.get());
        }
        if ((packet->flags & AV_PKT_FLAG_KEY) && packet->pts != AV_NOPTS_VALUE &&
            packet->dts != AV_NOPTS_VALUE)
            keyDelay = std::max(keyDelay, packet->pts - packet->dts);
        return true;
    }

    // The next decoded picture into `into`; false at the end.
    bool receive(AVFrame* into) {
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
            if (!readPacket()) {
                draining = true;
                avcodec_send_packet(decoder.get(), nullptr);
                continue;
            }
            // A damaged packet is skipped; the pictures that still decode are shown.
            avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
        }
    }

    // Decodes forward until `shown` is the picture on screen at `time`.
    void advance(int64_t time) {
        for (;;) {
            if (!haveAhead) {
                if (ended || !receive(ahead.get())) {
                    ended = true;
                    return;
                }
                haveAhead = true;
            }
            if (haveShown && ptsOf(*ahead) > time)
                return;
            std::swap(shown, ahead);
            av_frame_unref(ahead.get());
            haveShown = true;
            haveAhead = false;
            if (ptsOf(*shown) > time)
                return; // before the first picture: the first is shown
        }
    }

    // Makes `shown` the picture on screen at `seconds`; false past the end.
    bool position(double seconds);
};

VideoDecoder::VideoDecoder(const QString& path) : d(std::make_unique<State>()) {
    d->what = QStringLiteral("Can't read the pictures of “%1”").arg(av::displayName(path));
    av::VideoInput input = av::openVideo(path, d->what);
    d->format = std::move(input.format);
    d->streamIndex = input.streamIndex;
    d->stream = input.stream;
    d->rotation = input.rotation;
    d->naturalSize = input.naturalSize;
    const double start = av::streamStartSeconds(d->format.get(), d->stream);
    d->startTicks = d->toStream(start);
    const double duration = av::streamDurationSeconds(d->format.get(), d->stream);
    d->endSeconds = duration > 0 ? start + duration : 0;
    // Pictures are asked for in order: frame threads keep both cores busy.
    d->decoder = av::openDecoder(d->stream, 2, FF_THREAD_FRAME | FF_THREAD_SLICE, d->what);
}

VideoDecoder::~VideoDecoder() = default;

QSize VideoDecoder::naturalSize() const {
    return d->naturalSize;
}

bool VideoDecoder::State::position(double seconds) {
    const int64_t time = toStream(seconds);
    if (endSeconds > 0 && time >= toStream(endSeconds))
        return false;
    if (haveShown) {
        const int64_t shownPts = ptsOf(*shown);
        const bool behind = time < shownPts && !isFirstPicture(shownPts);
        if (behind || (time > shownPts && worthSeeking(time)))
            seekBefore(time);
    }
    advance(time);
    if (!haveShown)
        fail(AVERROR_INVALIDDATA);
    return true;
}

QImage VideoDecoder::frameAt(double seconds, const QRect& region) {
    if (!d->position(seconds))
        return {};
    // The region in the decoded picture's pixels; a turned picture is converted whole.
    const QRect wanted = d->rotation == 0 ? region : QRect();
    const int64_t pts = d->ptsOf(*d->shown);
    const bool converted =
        pts == d->imagePts &&
        (d->imageRegion.isEmpty() || (!wanted.isEmpty() && d->imageRegion.contains(wanted)));
    if (!converted) {
        if (d->rotation != 0) {
            d->image = d->converter.convert(*d->shown, d->rotation);
        } else {
            d->converter.convertInto(d->image, *d->shown, wanted);
        }
        d->imagePts = pts;
        d->imageRegion = wanted;
    }
    return d->image;
}

std::optional<YuvPicture> VideoDecoder::yuvFrameAt(double seconds) {
    if (!d->position(seconds))
        return YuvPicture();
    const AVFrame& frame = *d->shown;
    if (d->rotation != 0 || frame.format != AV_PIX_FMT_YUV420P || frame.width % 2 ||
        frame.height % 2 || pictureFullRange(frame))
        return std::nullopt;
    YuvPicture::Matrix matrix;
    switch (pictureMatrix(frame)) { // AVColorSpace numbers, which SWS_CS_* follow
    case AVCOL_SPC_BT709:
        matrix = YuvPicture::Matrix::bt709;
        break;
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
        matrix = YuvPicture::Matrix::bt601;
        break;
    default:
        return std::nullopt;
    }
    // A new reference to the decoded buffers keeps them while the picture is in use.
    std::shared_ptr<AVFrame> reference(av_frame_clone(&frame),
                                       [](AVFrame* f) { av_frame_free(&f); });
    if (!reference)
        throw Error(QStringLiteral("Out of memory"));
    return YuvPicture(QSize(frame.width, frame.height), matrix,
                      {reference->data[0], reference->data[1], reference->data[2]},
                      {reference->linesize[0], reference->linesize[1], reference->linesize[2]},
                      reference);
}

} // namespace reelbox
