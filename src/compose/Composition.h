#pragma once

#include "compose/Geometry.h"
#include "platform/MediaTime.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <ostream>
#include <vector>

namespace reelbox {

// Composition time is in ticks (platform/MediaTime.h).

// A stretch of one source file's track placed on the composition's time line.
struct CompositionSegment {
    QString sourcePath;
    int sourceTrack = 0;   // index among the source's tracks of the same kind
    Ticks sourceStart = 0; // on the source's own time line
    Ticks duration = 0;
    Ticks start = 0; // on the composition's time line

    Ticks end() const { return start + duration; }
    bool operator==(const CompositionSegment&) const = default;
};

struct CompositionTrack {
    enum class Kind { video, audio };

    std::int32_t trackID = 0;
    Kind kind = Kind::video;
    std::vector<CompositionSegment> segments; // in time order, never overlapping; gaps are empty

    Ticks end() const;
    // The segment playing at t, if any.
    const CompositionSegment* segmentAt(Ticks t) const;
    bool operator==(const CompositionTrack&) const = default;
};

// Tracks of segments with empty time between them. Track IDs are unique and never reused.
class Composition {
public:
    std::int32_t addTrack(CompositionTrack::Kind kind);
    void removeTrack(std::int32_t trackID);
    CompositionTrack* track(std::int32_t trackID);
    const CompositionTrack* track(std::int32_t trackID) const;
    const std::vector<CompositionTrack>& tracks() const { return m_tracks; }
    std::vector<const CompositionTrack*> tracks(CompositionTrack::Kind kind) const;

    // Places a segment; it must not overlap the track's others.
    void insert(std::int32_t trackID, const CompositionSegment& segment);
    // Cuts [start, start + duration) out of every track; later material moves earlier.
    void removeTimeRange(Ticks start, Ticks duration);
    Ticks duration() const;

    bool operator==(const Composition&) const = default;

private:
    std::vector<CompositionTrack> m_tracks;
    std::int32_t m_nextID = 1;
};

// One layer of the picture: which track, the part of its frame shown, and where it goes.
struct LayerInstruction {
    std::int32_t trackID = 0;
    RectD crop;       // source pixels
    Affine transform; // source pixels to canvas pixels
    bool operator==(const LayerInstruction&) const = default;
};

// How the picture is drawn: one instruction over the whole composition on black.
struct VideoComposition {
    SizeD renderSize;
    Ticks frameDuration = ticksPerSecond / 30;
    Ticks start = 0;
    Ticks duration = 0;
    std::vector<LayerInstruction> layers; // the first is drawn on top
    bool operator==(const VideoComposition&) const = default;
};

std::ostream& operator<<(std::ostream& out, const CompositionSegment& s);
std::ostream& operator<<(std::ostream& out, const LayerInstruction& l);

} // namespace reelbox
