#pragma once

#include <algorithm>

namespace reelbox::ui {

// The timeline's shared time axis: over a lanes area `width` wide, source time t of a timeline
// `duration` long sits at x = 12 + W·t/d with W = max(width − 24, 1).
struct TimeAxis {
    static constexpr double inset = 12;

    double width = 0;
    double duration = 0;

    double usableWidth() const { return std::max(width - 2 * inset, 1.0); }
    double x(double t) const { return duration > 0 ? inset + usableWidth() * t / duration : inset; }
    // Back from x, clamped to 0…duration.
    double time(double x) const {
        if (duration <= 0)
            return 0;
        return std::clamp(duration * (x - inset) / usableWidth(), 0.0, duration);
    }
};

} // namespace reelbox::ui
