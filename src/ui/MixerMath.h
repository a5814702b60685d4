#pragma once

namespace reelbox::ui {

// A slider's range of values.
struct ValueRange {
    double lower = 0;
    double upper = 1;
};

// Where a value sits on a slider of `steps` whole steps: linear, or with `logarithmic` the
// position is log10 of the value between log10 of the range ends. Values outside the range are
// held at its ends.
int sliderStep(double value, ValueRange range, bool logarithmic, int steps);
// The value at a step: the inverse of sliderStep (10 to the power of the position when
// logarithmic).
double valueAtStep(int step, ValueRange range, bool logarithmic, int steps);

// The pan after a drag that began at `start` and has moved by (dx, dy): right and up turn it
// right, 100 points for the whole of one side; held within −1 … 1.
double panAfterDrag(double start, double dx, double dy);
// How far the knob's indicator is turned from the top, clockwise: pan × 135 degrees.
double panAngleDegrees(double pan);

} // namespace reelbox::ui
