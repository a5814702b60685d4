#pragma once

namespace reelbox {

// A span of seconds on the take's time line; contains t when start <= t < end.
struct TimeSpan {
    double start = 0;
    double end = 0;

    double length() const { return end - start; }
    bool contains(double t) const { return start <= t && t < end; }
    double middle() const { return (start + end) * 0.5; }
    bool operator==(const TimeSpan&) const = default;
};

} // namespace reelbox
