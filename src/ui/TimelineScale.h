#pragma once

#include "audio/Waveform.h"

#include <QString>
#include <vector>

namespace reelbox::ui {

// The ruler's label step: the first of 1, 2, 5, 10, 15, 30, 60, 120, 300 s at least 70 points
// apart over `usableWidth` points for `duration` seconds (300 when none is).
double rulerLabelStep(double duration, double usableWidth);

// "m:ss" of the truncated whole seconds (negative counts as 0): 61.9 → "1:01".
QString rulerLabel(double seconds);

// One waveform bar: its x from the shape's left edge and its half height.
struct WaveformBar {
    double x = 0;
    double halfHeight = 0;
    bool operator==(const WaveformBar&) const = default;
};

// Walking a shape `width` × `height` showing `duration` seconds in steps of 2 points: per step
// the largest peak of the buckets in its time range, raised to 0.6; the half height is
// max(height × value × 0.5 × 0.95, 0.5).
std::vector<WaveformBar> waveformBars(const Waveform& waveform, double duration, double width,
                                      double height);

} // namespace reelbox::ui
