#include "platform/media/VideoDecoder.h"

#include "platform/Error.h"
#include "platform/media/internal/Av.h"
#include "platform/media/internal/PictureConversion.h"

#include <algorithm>
#include <cmath>
#include <limits>

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
    bool pending = false;   // `packet` holds the next packet, read ahead
    bool mustSeek = false;  // decoding is off its track (a single key frame was decoded)
    int64_t startTicks = 0; // stream ticks
    double endSeconds = 0;  // 0 when the duration is unknown
    // A key frame is shown this many stream ticks after it is decoded (the reordering delay);
    // learnt from the key frames read so far.
    int64_t keyDelay = 0;
    int rotation = 0;
    QSize naturalSize;
    FrameConverter converter;
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
        if (pending)
            av_packet_unref(packet.get());
        haveShown = haveAhead = ended = draining = pending = mustSeek = false;
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
        if (pending) {
            pending = false;
            return true;
        }
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

    // Makes `shown` the picture on screen at `time`, or the first picture before it.
    void reposition(int64_t time) {
        if (haveShown || mustSeek) {
            const int64_t shownPts = ptsOf(*shown);
            const bool behind = time < shownPts && !isFirstPicture(shownPts);
            if (mustSeek || behind || (time > shownPts && worthSeeking(time)))
                seekBefore(time);
        }
        advance(time);
        if (!haveShown)
            fail(AVERROR_INVALIDDATA);
    }

    // Makes `shown` the picture on screen at `seconds`; false past the end.
    bool position(double seconds) {
        const int64_t time = toStream(seconds);
        if (endSeconds > 0 && time >= toStream(endSeconds))
            return false;
        reposition(time);
        return true;
    }

    const AVFrame* keyFrameNear(double seconds, double toleranceSeconds);
    bool decodeKeyFrame(int64_t keyPts, double seconds, double toleranceSeconds);
    const AVFrame& nearest(double seconds);
};

VideoDecoder::VideoDecoder(const QString& path, Access access) : d(std::make_unique<State>()) {
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
    if (access == Access::sequential) {
        // Pictures asked for in order: frame threads keep both cores busy.
        d->decoder = av::openDecoder(d->stream, 2, FF_THREAD_FRAME | FF_THREAD_SLICE, d->what);
    } else {
        // Mostly single key frames: slice threads (HEVC wavefronts) share that one picture
        // between the cores, where frame threads would leave all but one idle.
        d->decoder = av::openDecoder(d->stream, 0, FF_THREAD_SLICE, d->what);
    }
    // The first packet tells the key frames' delay before any index lookup needs it.
    d->pending = d->readPacket();
}

VideoDecoder::~VideoDecoder() = default;

QSize VideoDecoder::naturalSize() const {
    return d->naturalSize;
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
    return yuvPictureOf(frame, matrix);
}

QImage VideoDecoder::stillAt(double seconds, double toleranceSeconds, QSize size) {
    toleranceSeconds = std::max(0.0, toleranceSeconds); // NaN too
    const AVFrame* picture = d->keyFrameNear(seconds, toleranceSeconds);
    if (!picture)
        picture = &d->nearest(seconds);
    if (!size.isEmpty() && d->rotation % 180 != 0)
        size.transpose(); // the converter scales before it turns
    return d->converter.convert(*picture, d->rotation, size);
}

// The key frame nearest to the time, decoded on its own, when one is within the tolerance.
const AVFrame* VideoDecoder::State::keyFrameNear(double seconds, double toleranceSeconds) {
    const int count = avformat_index_get_entries_count(stream);
    if (count <= 0)
        return nullptr;
    // Index entries carry decoding times; a key frame is shown keyDelay ticks later.
    auto keyPts = [&](int entry) {
        return avformat_index_get_entry(stream, entry)->timestamp + keyDelay;
    };
    const int before =
        av_index_search_timestamp(stream, toStream(seconds) - keyDelay, AVSEEK_FLAG_BACKWARD);
    int after = -1;
    for (int i = std::max(before + 1, 0); i < count; ++i) {
        if (avformat_index_get_entry(stream, i)->flags & AVINDEX_KEYFRAME) {
            after = i;
            break;
        }
    }
    auto distance = [&](int entry) {
        return entry < 0 ? std::numeric_limits<double>::infinity()
                         : std::abs(av::seconds(keyPts(entry), stream->time_base) - seconds);
    };
    const int near = distance(after) < distance(before) ? after : before;
    if (!(distance(near) <= toleranceSeconds) ||
        !decodeKeyFrame(keyPts(near), seconds, toleranceSeconds))
        return nullptr;
    return shown.get();
}

// Decodes only the key frame shown at keyPts into `shown`; false when it isn't within the
// tolerance after all. Either way the next request seeks.
bool VideoDecoder::State::decodeKeyFrame(int64_t keyPts, double seconds, double toleranceSeconds) {
    seekTo(keyPts);
    mustSeek = true;
    if (!readPacket())
        return false;
    const bool usable =
        (packet->flags & AV_PKT_FLAG_KEY) && packet->pts != AV_NOPTS_VALUE &&
        std::abs(av::seconds(packet->pts, stream->time_base) - seconds) <= toleranceSeconds;
    const int sent = usable ? avcodec_send_packet(decoder.get(), packet.get()) : -1;
    av_packet_unref(packet.get());
    if (sent < 0)
        return false;
    // Draining hands out the key frame at once, without waiting for the pictures after it.
    avcodec_send_packet(decoder.get(), nullptr);
    draining = true;
    return avcodec_receive_frame(decoder.get(), shown.get()) == 0 &&
           std::abs(av::seconds(ptsOf(*shown), stream->time_base) - seconds) <= toleranceSeconds;
}

// The picture nearest to the time: the one on screen or the next, whichever is closer (the
// later one on a tie); the first or last picture outside the movie.
const AVFrame& VideoDecoder::State::nearest(double seconds) {
    const int64_t time = toStream(seconds);
    reposition(time);
    if (!haveAhead && !ended) {
        haveAhead = receive(ahead.get());
        ended = !haveAhead;
    }
    if (haveAhead && ptsOf(*ahead) - time <= time - ptsOf(*shown))
        return *ahead;
    return *shown;
}

} // namespace reelbox
