#include "platform/media/VideoTimes.h"

#include "platform/media/internal/Av.h"

#include <algorithm>

namespace reelbox {

namespace {

std::vector<double> frameTimes(const QString& path, bool keyFramesOnly) {
    const QString what = QStringLiteral("Can't read “%1”").arg(av::displayName(path));
    av::VideoInput input = av::openVideo(path, what);
    av::PacketPtr packet = av::makePacket();
    std::vector<double> times;
    for (;;) {
        const int read = av_read_frame(input.format.get(), packet.get());
        if (read == AVERROR_EOF)
            break;
        av::check(read, what);
        if (packet->stream_index == input.streamIndex &&
            (!keyFramesOnly || (packet->flags & AV_PKT_FLAG_KEY))) {
            const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (pts != AV_NOPTS_VALUE)
                times.push_back(av::seconds(pts, input.stream->time_base));
        }
        av_packet_unref(packet.get());
    }
    std::sort(times.begin(), times.end());
    return times;
}

} // namespace

std::vector<double> videoFrameTimes(const QString& path) {
    return frameTimes(path, false);
}

std::vector<double> videoKeyFrameTimes(const QString& path) {
    return frameTimes(path, true);
}

} // namespace reelbox
