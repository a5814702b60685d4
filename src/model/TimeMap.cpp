#include "model/TimeMap.h"

namespace reelbox {

double TimeMap::sourceTime(double t) const {
    if (spans.empty())
        return 0;
    for (const TimeSpan& span : spans) {
        const double len = span.length();
        if (t < len)
            return span.start + t;
        t -= len;
    }
    return spans.back().end;
}

double TimeMap::outputTime(double s) const {
    double accumulated = 0;
    for (const TimeSpan& span : spans) {
        if (s < span.start)
            break;
        if (s < span.end)
            return accumulated + (s - span.start);
        accumulated += span.length();
    }
    return accumulated;
}

double TimeMap::totalLength() const {
    double total = 0;
    for (const TimeSpan& span : spans)
        total += span.length();
    return total;
}

} // namespace reelbox
