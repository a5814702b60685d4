#pragma once

namespace reelbox::ui {

// The start slider's scale: whole milliseconds from the lower end of the start range, so the
// slider's integer positions map to start times and back, both clamped into the range.
struct StartScale {
    double lower = 0;
    double upper = 0;

    // The slider's last position (0 for an empty or reversed range).
    int maximum() const;
    // The position nearest to `seconds`.
    int valueAt(double seconds) const;
    // The start time at a position; the last position is the upper end exactly.
    double secondsAt(int value) const;
};

} // namespace reelbox::ui
