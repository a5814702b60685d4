#include "platform/media/FrameGrabber.h"

#include "platform/Cancellation.h"
#include "platform/Error.h"
#include "platform/media/internal/Av.h"
#include "platform/media/internal/PictureConversion.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace reelbox {

namespace {

QSize fitInside(QSize size, QSize maxSize) {
    double scale = 1.0;
    if (maxSize.width() > 0)
        scale = std::min(scale, double(maxSize.width()) / size.width());
    if (maxSize.height() > 0)
        scale = std::min(scale, double(maxSize.height()) / size.height());
    return {std::max(1, int(std::lround(size.width() * scale))),
            std::max(1, int(std::lround(size.height() * scale)))};
}

} // namespace

struct FrameGrabber::State {
    QString what;
    av::InputPtr format;
    int streamIndex = -1;
    AVStream* stream = nullptr;
    av::CodecPtr decoder;
    av::PacketPtr packet = av::makePacket();
    av::FramePtr current = av::makeFrame();
    av::FramePtr previous = av::makeFrame();
    PictureConverter converter;
    int rotation = 0;
    QSize naturalSize;
    // Index entries carry decoding times; a key frame is shown this many ticks later (the
    // reordering delay, the same for every key frame of a movie from one encoder).
    int64_t keyDelay = 0;

    void fail(int code) const { throw Error(what + QStringLiteral(": ") + av::errorText(code)); }
    int64_t toStream(double seconds) const {
        return int64_t(std::llround(seconds / av_q2d(stream->time_base)));
    }
    double ptsOf(const AVFrame& frame) const {
        const int64_t pts =
            frame.best_effort_timestamp != AV_NOPTS_VALUE ? frame.best_effort_timestamp : frame.pts;
        return pts == AV_NOPTS_VALUE ? 0.0 : av::seconds(pts, stream->time_base);
    }

    void seek(int64_t timestamp);
    bool readPacket();
    bool decodeKeyFrame(int64_t keyPts, double seconds, double toleranceSeconds);
    void decodeNearest(double seconds);
    QImage convert(const AVFrame& frame, QSize maxSize);
};

FrameGrabber::FrameGrabber(const QString& path) : d(std::make_unique<State>()) {
    d->what = QStringLiteral("Can't read the pictures of “%1”").arg(av::displayName(path));
    av::VideoInput input = av::openVideo(path, d->what);
    d->format = std::move(input.format);
    d->streamIndex = input.streamIndex;
    d->stream = input.stream;
    d->rotation = input.rotation;
    d->naturalSize = input.naturalSize;
    // Most requests decode a single key frame: slice threads (HEVC wavefronts) share that one
    // picture between the cores, where frame threads would leave all but one idle.
    d->decoder = av::openDecoder(d->stream, 0, FF_THREAD_SLICE, d->what);

    if (d->readPacket()) {
        if (d->packet->pts != AV_NOPTS_VALUE && d->packet->dts != AV_NOPTS_VALUE)
            d->keyDelay = std::max<int64_t>(0, d->packet->pts - d->packet->dts);
        av_packet_unref(d->packet.get());
    }
}

FrameGrabber::~FrameGrabber() = default;

QSize FrameGrabber::naturalSize() const {
    return d->naturalSize;
}

QImage FrameGrabber::imageAt(double seconds, double toleranceSeconds, QSize maxSize) {
    toleranceSeconds = std::max(0.0, toleranceSeconds);
    AVStream* stream = d->stream;
    const int count = avformat_index_get_entries_count(stream);
    if (count > 0) {
        // The key frames either side of the time, from the index: when one of them is close
        // enough, decoding that single picture is all it takes.
        auto keyPts = [&](int entry) {
            return avformat_index_get_entry(stream, entry)->timestamp + d->keyDelay;
        };
        const int before = av_index_search_timestamp(stream, d->toStream(seconds) - d->keyDelay,
                                                     AVSEEK_FLAG_BACKWARD);
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
        const int nearest = distance(after) < distance(before) ? after : before;
        if (distance(nearest) <= toleranceSeconds &&
            d->decodeKeyFrame(keyPts(nearest), seconds, toleranceSeconds))
            return d->convert(*d->current, maxSize);
    }
    d->decodeNearest(seconds);
    return d->convert(*d->current, maxSize);
}

std::vector<QImage> FrameGrabber::imagesAt(const std::vector<double>& times,
                                           double toleranceSeconds, QSize maxSize,
                                           const std::stop_token& token) {
    std::vector<QImage> images;
    images.reserve(times.size());
    for (const double time : times) {
        throwIfCancelled(token);
        images.push_back(imageAt(time, toleranceSeconds, maxSize));
    }
    return images;
}

void FrameGrabber::State::seek(int64_t timestamp) {
    if (av_seek_frame(format.get(), streamIndex, timestamp, AVSEEK_FLAG_BACKWARD) < 0) {
        // Before the first key frame: start from the beginning.
        const int64_t first = stream->start_time != AV_NOPTS_VALUE ? stream->start_time : 0;
        const int sought =
            av_seek_frame(format.get(), streamIndex, first, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
        if (sought < 0)
            fail(sought);
    }
    avcodec_flush_buffers(decoder.get());
}

// The next packet of the video stream into `packet`; false at the end of the file.
bool FrameGrabber::State::readPacket() {
    for (;;) {
        const int result = av_read_frame(format.get(), packet.get());
        if (result == AVERROR_EOF)
            return false;
        if (result < 0)
            fail(result);
        if (packet->stream_index == streamIndex)
            return true;
        av_packet_unref(packet.get());
    }
}

// Decodes only the key frame shown at keyPts into `current`, when it is within the tolerance
// of the time. False otherwise; the caller then decodes the ordinary way.
bool FrameGrabber::State::decodeKeyFrame(int64_t keyPts, double seconds, double toleranceSeconds) {
    seek(keyPts);
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
    return avcodec_receive_frame(decoder.get(), current.get()) == 0 &&
           std::abs(ptsOf(*current) - seconds) <= toleranceSeconds;
}

// Decodes forward from the key frame before the time; leaves the nearest picture in `current`.
void FrameGrabber::State::decodeNearest(double seconds) {
    seek(toStream(seconds));
    bool havePrevious = false;
    bool draining = false;
    int lastError = 0;
    for (;;) {
        const int received = avcodec_receive_frame(decoder.get(), current.get());
        if (received == 0) {
            if (ptsOf(*current) >= seconds) {
                if (havePrevious && seconds - ptsOf(*previous) < ptsOf(*current) - seconds)
                    std::swap(current, previous);
                return;
            }
            std::swap(current, previous);
            av_frame_unref(current.get());
            havePrevious = true;
            continue;
        }
        if (received == AVERROR_EOF || (received == AVERROR(EAGAIN) && draining)) {
            if (!havePrevious)
                fail(lastError ? lastError : AVERROR_INVALIDDATA);
            std::swap(current, previous); // past the end: the last picture
            return;
        }
        if (received != AVERROR(EAGAIN))
            fail(received);
        if (!readPacket()) {
            draining = true;
            avcodec_send_packet(decoder.get(), nullptr);
            continue;
        }
        const int sent = avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
        if (sent < 0 && sent != AVERROR(EAGAIN))
            lastError = sent; // a damaged packet: keep going, fail only if nothing decodes
    }
}

QImage FrameGrabber::State::convert(const AVFrame& frame, QSize maxSize) {
    const bool turned = rotation % 180 != 0;
    QSize displayed(frame.width, frame.height);
    if (turned)
        displayed.transpose();
    QSize target = fitInside(displayed, maxSize);
    if (turned)
        target.transpose();
    return converter.convert(frame, rotation, target);
}

} // namespace reelbox
