#include "model/EditState.h"

#include <algorithm>

namespace reelbox {

namespace {
constexpr double minimumKeptLength = 0.01;
constexpr double minimumSegmentLength = 0.001;
} // namespace

namespace {
// A span whose end is not after its start covers nothing.
SpanList nonEmpty(const SpanList& spans) {
    SpanList result;
    for (const TimeSpan& s : spans)
        if (s.end > s.start)
            result.push_back(s);
    return result;
}
} // namespace

SpanList EditState::merged(const SpanList& spans) {
    SpanList sorted = nonEmpty(spans);
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const TimeSpan& a, const TimeSpan& b) { return a.start < b.start; });
    SpanList result;
    for (const TimeSpan& span : sorted) {
        if (!result.empty() && span.start <= result.back().end)
            result.back().end = std::max(result.back().end, span.end);
        else
            result.push_back(span);
    }
    return result;
}

SpanList EditState::subtract(const TimeSpan& d, const SpanList& spans) {
    if (!(d.end > d.start))
        return spans;
    SpanList result;
    for (const TimeSpan& s : spans) {
        if (d.start < s.end && s.start < d.end) {
            if (s.start < d.start)
                result.push_back({s.start, d.start});
            if (d.end < s.end)
                result.push_back({d.end, s.end});
        } else {
            result.push_back(s);
        }
    }
    return result;
}

SpanList EditState::keptSpans(double duration) const {
    const double lo = std::max(std::min(inPoint, duration), 0.0);
    const double hi = std::max(std::min(outPoint.value_or(duration), duration), lo);
    SpanList emitted;
    double cursor = lo;
    for (const TimeSpan& cut : merged(cuts)) {
        if (!(cut.end > lo && cut.start < hi))
            continue;
        if (cursor < cut.start)
            emitted.push_back({cursor, cut.start});
        cursor = std::max(cursor, cut.end);
    }
    if (cursor < hi)
        emitted.push_back({cursor, hi});
    std::erase_if(emitted, [](const TimeSpan& s) { return !(s.length() > minimumKeptLength); });
    return emitted;
}

std::vector<double> EditState::splitsIn(const std::optional<Lane>& lane) const {
    if (!lane)
        return splits;
    std::vector<double> result = splits;
    if (auto it = laneSplits.find(lane->key()); it != laneSplits.end())
        result.insert(result.end(), it->second.begin(), it->second.end());
    std::sort(result.begin(), result.end());
    return result;
}

SpanList EditState::segments(const std::optional<Lane>& lane, double duration) const {
    std::vector<double> points{0.0};
    for (double p : splitsIn(lane))
        if (p > 0 && p < duration)
            points.push_back(p);
    // Stored splits may come in any order; the pieces are always ascending and disjoint.
    std::sort(points.begin(), points.end());
    points.push_back(duration);
    SpanList result;
    for (size_t i = 1; i < points.size(); ++i) {
        const TimeSpan span{points[i - 1], points[i]};
        if (span.length() > minimumSegmentLength)
            result.push_back(span);
    }
    return result;
}

bool EditState::isRemoved(const TimeSpan& span) const {
    const double m = span.middle();
    for (const TimeSpan& cut : cuts)
        if (cut.start <= m && m < cut.end)
            return true;
    return m < inPoint || (outPoint && m > *outPoint);
}

SpanList EditState::hiddenParts(const Lane& lane) const {
    if (auto it = hidden.find(lane.key()); it != hidden.end())
        return nonEmpty(it->second);
    return {};
}

} // namespace reelbox
