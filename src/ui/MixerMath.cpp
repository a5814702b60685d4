#include "ui/MixerMath.h"

#include <algorithm>
#include <cmath>

namespace reelbox::ui {

namespace {
// The slider's position for a value, and the value at a position.
double positionOf(double value, bool logarithmic) {
    return logarithmic ? std::log10(value) : value;
}
double valueAt(double position, bool logarithmic) {
    return logarithmic ? std::pow(10.0, position) : position;
}
} // namespace

int sliderStep(double value, ValueRange range, bool logarithmic, int steps) {
    const double lower = positionOf(range.lower, logarithmic);
    const double upper = positionOf(range.upper, logarithmic);
    if (!(upper > lower) || steps <= 0)
        return 0;
    const double clamped = std::clamp(value, range.lower, range.upper);
    const double fraction = (positionOf(clamped, logarithmic) - lower) / (upper - lower);
    return std::clamp(int(std::lround(fraction * steps)), 0, steps);
}

double valueAtStep(int step, ValueRange range, bool logarithmic, int steps) {
    if (steps <= 0)
        return range.lower;
    const double lower = positionOf(range.lower, logarithmic);
    const double upper = positionOf(range.upper, logarithmic);
    const double fraction = double(std::clamp(step, 0, steps)) / steps;
    const double value = valueAt(lower + fraction * (upper - lower), logarithmic);
    return std::clamp(value, range.lower, range.upper);
}

double panAfterDrag(double start, double dx, double dy) {
    return std::clamp(start + (dx - dy) / 100.0, -1.0, 1.0);
}

double panAngleDegrees(double pan) {
    return pan * 135.0;
}

} // namespace reelbox::ui
