#include "ui/TimelineScale.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace reelbox::ui {

double rulerLabelStep(double duration, double usableWidth) {
    static constexpr std::array steps{1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0};
    if (duration <= 0)
        return steps.front();
    for (const double step : steps) {
        if (usableWidth * step / duration >= 70)
            return step;
    }
    return steps.back();
}

QString rulerLabel(double seconds) {
    const long long whole = seconds > 0 ? static_cast<long long>(seconds) : 0;
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

std::vector<WaveformBar> waveformBars(const Waveform& waveform, double duration, double width,
                                      double height) {
    std::vector<WaveformBar> bars;
    if (duration <= 0 || width <= 0 || waveform.bucketDuration <= 0)
        return bars;
    const auto count = static_cast<long long>(waveform.peaks.size());
    const double secondsPerPoint = duration / width;
    for (double x = 0; x < width; x += 2) {
        const double t0 = x * secondsPerPoint;
        const double t1 = (x + 2) * secondsPerPoint;
        const auto first = static_cast<long long>(std::floor(t0 / waveform.bucketDuration));
        const auto last =
            std::max(first + 1, static_cast<long long>(std::ceil(t1 / waveform.bucketDuration)));
        float peak = 0;
        for (long long k = std::max(first, 0LL); k < std::min(last, count); ++k)
            peak = std::max(peak, waveform.peaks[std::size_t(k)]);
        const double value = std::pow(double(peak), 0.6);
        bars.push_back({x, std::max(height * value * 0.5 * 0.95, 0.5)});
    }
    return bars;
}

} // namespace reelbox::ui
