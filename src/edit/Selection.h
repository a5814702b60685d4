#pragma once

#include "model/Lane.h"
#include "model/TimeSpan.h"

#include <map>

namespace reelbox {

// What is selected on the timeline: one part per lane, or one ruler part for every lane.
struct Selection {
    enum class Kind { parts, timeline };

    Kind kind = Kind::parts;
    std::map<Lane, TimeSpan> parts; // Kind::parts: never empty while stored
    TimeSpan span;                  // Kind::timeline

    static Selection ofParts(std::map<Lane, TimeSpan> parts) {
        return {Kind::parts, std::move(parts), {}};
    }
    static Selection ofTimeline(const TimeSpan& span) { return {Kind::timeline, {}, span}; }

    bool isTimeline() const { return kind == Kind::timeline; }

    bool operator==(const Selection& other) const {
        if (kind != other.kind)
            return false;
        return kind == Kind::timeline ? span == other.span : parts == other.parts;
    }
};

} // namespace reelbox
