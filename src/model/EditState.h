#pragma once

#include "model/Lane.h"
#include "model/TimeSpan.h"

#include <QString>
#include <map>
#include <optional>
#include <vector>

namespace reelbox {

using SpanList = std::vector<TimeSpan>;

// The non-destructive edit of a take.
struct EditState {
    double inPoint = 0;
    std::optional<double> outPoint;
    std::vector<double> splits;                        // split points of every lane
    SpanList cuts;                                     // spans removed from every lane
    std::map<QString, SpanList> hidden;                // lane key -> spans hidden in that lane
    std::map<QString, std::vector<double>> laneSplits; // lane key -> split points of that lane

    // Sorted, non-overlapping union of the spans; touching spans merge.
    static SpanList merged(const SpanList& spans);
    // The spans with every part inside `span` taken out.
    static SpanList subtract(const TimeSpan& span, const SpanList& spans);

    // The parts of the take that survive trimming and cuts, i.e. the spans that play.
    SpanList keptSpans(double duration) const;
    // Global splits as stored without a lane; with a lane, global and lane splits sorted.
    std::vector<double> splitsIn(const std::optional<Lane>& lane) const;
    // The pieces of a lane (or of the ruler) between its split points.
    SpanList segments(const std::optional<Lane>& lane, double duration) const;
    // Whether the span's midpoint lies in a cut or outside the in/out range.
    bool isRemoved(const TimeSpan& span) const;
    SpanList hiddenParts(const Lane& lane) const;

    bool operator==(const EditState&) const = default;
};

} // namespace reelbox
