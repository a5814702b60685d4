#pragma once

#include "compose/Composition.h"
#include "platform/media/YuvPicture.h"

#include <QImage>
#include <QRect>
#include <map>
#include <memory>
#include <optional>

namespace reelbox {

class VideoDecoder;

// The decoded frame of every video track of a composition at a composition time. Keeps one
// decoder per track, so asking for increasing times decodes each source once, in order.
class CompositionFrameSource {
public:
    explicit CompositionFrameSource(const Composition& composition);
    ~CompositionFrameSource();

    // Track ID → frame; a track with nothing at that time (an empty stretch, past its
    // source's end) has no entry. Throws Error when a source can't be decoded.
    std::map<std::int32_t, QImage> framesAt(Ticks time);

    // The same frames as they were decoded (shared, not copied), when every one of them is
    // 8-bit 4:2:0 (YuvPicture); none otherwise, and framesAt then gives them converted.
    std::optional<std::map<std::int32_t, YuvPicture>> yuvFramesAt(Ticks time);

    // From now on only the listed tracks are decoded, and of each frame only the pixels
    // inside its rectangle (source pixels) are guaranteed; the rest of the image may hold
    // anything. For a picture that draws only parts of its sources.
    void limitTo(std::map<std::int32_t, QRect> regions);

private:
    // The decoder playing the track at `time`, the time in its source and the track's
    // region; no decoder when the track shows nothing then.
    struct Playing {
        VideoDecoder* decoder = nullptr;
        double sourceSeconds = 0;
        QRect region;
    };
    Playing playing(const CompositionTrack& track, Ticks time);

    const Composition& m_composition;
    std::optional<std::map<std::int32_t, QRect>> m_regions;
    std::map<std::pair<std::int32_t, QString>, std::unique_ptr<VideoDecoder>> m_decoders;
};

} // namespace reelbox
