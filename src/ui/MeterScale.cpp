#include "ui/MeterScale.h"

#include <algorithm>

namespace reelbox::ui {

double meterFraction(float db) {
    return std::clamp((double(db) + 60.0) / 60.0, 0.0, 1.0);
}

bool peakIsHot(float db) {
    return db > -1.0f;
}

QGradientStops meterStops() {
    const QColor green(52, 199, 89), yellow(255, 204, 0), red(255, 59, 48);
    return {{0.0, green}, {0.75, green}, {0.88, yellow}, {1.0, red}};
}

QColor meterColorAt(double fraction) {
    const QGradientStops stops = meterStops();
    fraction = std::clamp(fraction, 0.0, 1.0);
    for (qsizetype i = 1; i < stops.size(); ++i) {
        if (fraction > stops[i].first)
            continue;
        const auto& [a, from] = stops[i - 1];
        const auto& [b, to] = stops[i];
        const double t = b > a ? (fraction - a) / (b - a) : 0;
        return QColor::fromRgbF(float(from.redF() + (to.redF() - from.redF()) * t),
                                float(from.greenF() + (to.greenF() - from.greenF()) * t),
                                float(from.blueF() + (to.blueF() - from.blueF()) * t));
    }
    return stops.back().second;
}

} // namespace reelbox::ui
