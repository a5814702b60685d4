#include "platform/media/MovieInfo.h"

#include "platform/Error.h"
#include "platform/media/internal/Av.h"

#include <QDateTime>
#include <QFileInfo>
#include <algorithm>

namespace reelbox {

namespace {

qint64 modificationTime(const QString& path) {
    const QDateTime modified = QFileInfo(path).lastModified();
    return modified.isValid() ? modified.toSecsSinceEpoch() : 0;
}

double frameRate(const AVStream* stream) {
    for (const AVRational rate : {stream->avg_frame_rate, stream->r_frame_rate}) {
        if (rate.num > 0 && rate.den > 0)
            return av_q2d(rate);
    }
    return 0;
}

} // namespace

MovieInfo probeMovie(const QString& path) {
    const av::InputPtr format = av::openInput(path);

    MovieInfo info;
    info.path = path;
    info.modificationTimeSeconds = modificationTime(path);

    double end = 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* stream = format->streams[i];
        const AVCodecParameters* parameters = stream->codecpar;
        const double start = av::streamStartSeconds(format.get(), stream);
        const double duration = av::streamDurationSeconds(format.get(), stream);
        if (parameters->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) && parameters->width > 0 &&
            parameters->height > 0) {
            QSize size(parameters->width, parameters->height);
            if (av::displayRotation(stream) % 180 != 0)
                size.transpose();
            info.video.push_back({int(i), start, duration, size, frameRate(stream),
                                  QString::fromLatin1(avcodec_get_name(parameters->codec_id)),
                                  av::fourcc(parameters->codec_tag),
                                  std::max<qint64>(0, stream->nb_frames)});
        } else if (parameters->codec_type == AVMEDIA_TYPE_AUDIO &&
                   parameters->ch_layout.nb_channels > 0 && parameters->sample_rate > 0) {
            info.audio.push_back({int(i), start, duration, parameters->ch_layout.nb_channels,
                                  parameters->sample_rate,
                                  QString::fromLatin1(avcodec_get_name(parameters->codec_id))});
        } else {
            continue;
        }
        end = std::max(end, start + duration);
    }
    if (info.video.empty() && info.audio.empty())
        throw Error(
            QStringLiteral("Can't open “%1”: it has no audio or video").arg(av::displayName(path)));

    info.durationSeconds = format->duration != AV_NOPTS_VALUE && format->duration > 0
                               ? av::seconds(format->duration, AV_TIME_BASE_Q)
                               : end;
    return info;
}

} // namespace reelbox
