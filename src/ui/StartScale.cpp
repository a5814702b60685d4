#include "ui/StartScale.h"

#include <algorithm>
#include <cmath>

namespace reelbox::ui {

namespace {
constexpr double perSecond = 1000;
}

int StartScale::maximum() const {
    const double span = upper - lower;
    return std::isfinite(span) && span > 0 ? int(std::lround(span * perSecond)) : 0;
}

int StartScale::valueAt(double seconds) const {
    if (!std::isfinite(seconds))
        return 0;
    return std::clamp(int(std::lround((seconds - lower) * perSecond)), 0, maximum());
}

double StartScale::secondsAt(int value) const {
    const int last = maximum();
    if (value >= last)
        return std::max(lower, upper);
    return std::clamp(lower + std::max(value, 0) / perSecond, lower, std::max(lower, upper));
}

} // namespace reelbox::ui
