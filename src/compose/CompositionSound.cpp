#include "compose/CompositionSound.h"

#include "platform/MediaTime.h"
#include "platform/media/AudioFile.h"

#include <algorithm>

namespace reelbox {

namespace {
constexpr qint64 chunkFrames = 16384;
} // namespace

CompositionSound::CompositionSound(const Composition& composition)
    : m_lengthFrames(ticksToFrames(composition.duration())) {
    for (const CompositionTrack* track : composition.tracks(CompositionTrack::Kind::audio)) {
        m_empty = false;
        m_segments.insert(m_segments.end(), track->segments.begin(), track->segments.end());
    }
}

CompositionSound::~CompositionSound() = default;

AudioFileReader& CompositionSound::reader(const QString& path) {
    auto& slot = m_readers[path];
    if (!slot)
        slot = std::make_unique<AudioFileReader>(path);
    return *slot;
}

void CompositionSound::read(float* stereo, qint64 fromFrame, qint64 frames) {
    std::fill_n(stereo, std::max<qint64>(0, frames) * 2, 0.0f);
    for (const CompositionSegment& segment : m_segments) {
        const qint64 segmentStart = ticksToFrames(segment.start);
        const qint64 sourceStart = ticksToFrames(segment.sourceStart);
        // Where the source has no samples (before its start) the segment is silent.
        qint64 begin = std::max({fromFrame, segmentStart, segmentStart - sourceStart});
        const qint64 end = std::min(fromFrame + frames, ticksToFrames(segment.end()));
        if (end <= begin)
            continue;
        AudioFileReader& file = reader(segment.sourcePath);
        const qint64 source = sourceStart + (begin - segmentStart);
        if (source >= file.frames())
            continue;
        file.seek(source);
        const int channels = file.channels();
        const int right = std::min(1, channels - 1);
        m_scratch.resize(size_t(std::min(chunkFrames, end - begin) * channels));
        while (begin < end) {
            const qint64 got = file.read(m_scratch.data(), std::min(chunkFrames, end - begin));
            if (got <= 0)
                break;
            float* out = stereo + (begin - fromFrame) * 2;
            for (qint64 i = 0; i < got; ++i) {
                out[i * 2] += m_scratch[size_t(i * channels)];
                out[i * 2 + 1] += m_scratch[size_t(i * channels + right)];
            }
            begin += got;
        }
    }
}

} // namespace reelbox
