#pragma once

#include "model/TimeSpan.h"

#include <vector>

namespace reelbox {

// The played spans laid end to end: maps between output time and source time.
struct TimeMap {
    std::vector<TimeSpan> spans;

    double sourceTime(double outputTime) const;
    // Inverse: a source time inside a removed gap maps to where the next span begins.
    double outputTime(double sourceTime) const;
    double totalLength() const;

    bool operator==(const TimeMap&) const = default;
};

} // namespace reelbox
