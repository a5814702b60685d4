#pragma once

#include "compose/Composition.h"

#include <QString>
#include <QtGlobal>
#include <map>
#include <memory>
#include <vector>

namespace reelbox {

class AudioFileReader;

// The sound of a composition as interleaved stereo at 48 kHz: every segment of every audio
// track read into place (tick t is frame 80 t, on both time lines) and summed, silence in the
// gaps and past a source's end. A mono source is heard on both sides; of a source with more
// channels, the first two are heard. The one reader for the player and the exporter.
class CompositionSound {
public:
    explicit CompositionSound(const Composition& composition);
    ~CompositionSound();
    CompositionSound(const CompositionSound&) = delete;
    CompositionSound& operator=(const CompositionSound&) = delete;

    // No audio track.
    bool isEmpty() const { return m_empty; }
    // The composition's length in frames.
    qint64 lengthFrames() const { return m_lengthFrames; }

    // Fills `stereo` (2 × frames floats) with [fromFrame, fromFrame + frames). Throws Error
    // when a source can't be read.
    void read(float* stereo, qint64 fromFrame, qint64 frames);

private:
    AudioFileReader& reader(const QString& path);

    std::vector<CompositionSegment> m_segments;
    bool m_empty = true;
    qint64 m_lengthFrames = 0;
    std::map<QString, std::unique_ptr<AudioFileReader>> m_readers;
    std::vector<float> m_scratch;
};

} // namespace reelbox
