#include "compose/CompositionFrameSource.h"

#include "platform/media/VideoDecoder.h"

namespace reelbox {

CompositionFrameSource::CompositionFrameSource(const Composition& composition)
    : m_composition(composition) {}

CompositionFrameSource::~CompositionFrameSource() = default;

CompositionFrameSource::Playing CompositionFrameSource::playing(const CompositionTrack& track,
                                                                Ticks time) {
    Playing result;
    if (m_regions) {
        const auto wanted = m_regions->find(track.trackID);
        if (wanted == m_regions->end())
            return result;
        result.region = wanted->second;
    }
    const CompositionSegment* segment = track.segmentAt(time);
    if (!segment)
        return result;
    auto& decoder = m_decoders[{track.trackID, segment->sourcePath}];
    if (!decoder)
        decoder = std::make_unique<VideoDecoder>(segment->sourcePath);
    result.decoder = decoder.get();
    result.sourceSeconds = toSeconds(segment->sourceStart + (time - segment->start));
    return result;
}

std::map<std::int32_t, QImage> CompositionFrameSource::framesAt(Ticks time) {
    std::map<std::int32_t, QImage> frames;
    for (const CompositionTrack* track : m_composition.tracks(CompositionTrack::Kind::video)) {
        const Playing now = playing(*track, time);
        if (!now.decoder)
            continue;
        QImage frame = now.decoder->frameAt(now.sourceSeconds, now.region);
        if (!frame.isNull())
            frames.emplace(track->trackID, std::move(frame));
    }
    return frames;
}

std::optional<std::map<std::int32_t, YuvPicture>> CompositionFrameSource::yuvFramesAt(Ticks time) {
    std::map<std::int32_t, YuvPicture> frames;
    for (const CompositionTrack* track : m_composition.tracks(CompositionTrack::Kind::video)) {
        const Playing now = playing(*track, time);
        if (!now.decoder)
            continue;
        std::optional<YuvPicture> frame = now.decoder->yuvFrameAt(now.sourceSeconds);
        if (!frame)
            return std::nullopt;
        if (!frame->isNull())
            frames.emplace(track->trackID, std::move(*frame));
    }
    return frames;
}

void CompositionFrameSource::limitTo(std::map<std::int32_t, QRect> regions) {
    m_regions = std::move(regions);
}

} // namespace reelbox
