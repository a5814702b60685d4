#pragma once

#include <QColor>
#include <QGradientStops>

namespace reelbox::ui {

// A level in dBFS as the part of a meter it fills: (dB + 60) / 60, clamped to 0…1.
double meterFraction(float db);
// The peak mark turns red only above −1 dBFS.
bool peakIsHot(float db);
// The meter's gradient along its whole width: green to 0.75, yellow at 0.88, red at 1.
QGradientStops meterStops();
// The gradient's colour at a fraction of the width.
QColor meterColorAt(double fraction);

} // namespace reelbox::ui
