#include "platform/media/VideoTimes.h"

#include "platform/media/internal/Av.h"

#include <algorithm>

namespace reelbox {

std::vector<double> videoFrameTimes(const QString& path) {
    const QString what = QStringLiteral("Can't read “%1”").arg(av::displayName(path));
    av::VideoInput input = av::openVideo(path, what);
    av::PacketPtr packet = av::makePacket();
    std::vector<double> times;
    for (;;) {
        const int read = av_read_frame(input.format.get(), packet.get());
        if (read == AVERROR_EOF)
            break;
        av::check(read, what);
        if (packet->stream_index == input.streamIndex) {
            const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (pts != AV_NOPTS_VALUE)
                times.push_back(av::seconds(pts, input.stream->time_base));
        }
        av_packet_unref(packet.get());
    }
    std::sort(times.begin(), times.end());
    return times;
}

} // namespace reelbox
