#include "CompositionFrameSource.h"

#include "media/VideoDecoder.h"

namespace reelbox {

CompositionFrameSource::CompositionFrameSource(const Composition& composition)
    : m_composition(composition) {}

CompositionFrameSource::~CompositionFrameSource() = default;

std::map<std::int32_t, QImage> CompositionFrameSource::framesAt(Ticks time) {
    std::map<std::int32_t, QImage> frames;
    for (const CompositionTrack* track : m_composition.tracks(CompositionTrack::Kind::video)) {
        QRect region;
        if (m_regions) {
            const auto wanted = m_regions->find(track->trackID);
            if (wanted == m_regions->end())
                continue;
            region = wanted->second;
        }
        const CompositionSegment* segment = track->segmentAt(time);
        if (!segment)
            continue;
        auto& decoder = m_decoders[{track->trackID, segment->sourcePath}];
        if (!decoder)
            decoder = std::make_unique<VideoDecoder>(segment->sourcePath);
        const double sourceSeconds = toSeconds(segment->sourceStart + (time - segment->start));
        QImage frame = decoder->frameAt(sourceSeconds, region);
        if (!frame.isNull())
            frames.emplace(track->trackID, std::move(frame));
    }
    return frames;
}

void CompositionFrameSource::limitTo(std::map<std::int32_t, QRect> regions) {
    m_regions = std::move(regions);
}

} // namespace reelbox
