#pragma once

#include "edit/Group.h"
#include "model/Lane.h"

#include <vector>

namespace reelbox::ui {

// The rows of the edit timeline, top to bottom, and the card behind each group's rows.
struct TimelineRow {
    enum class Kind { ruler, gap, group, lane };

    Kind kind = Kind::ruler;
    int groupIndex = -1; // gap, group and lane rows
    Group group;         // group and lane rows
    Lane lane;           // lane rows

    double height() const;
    bool operator==(const TimelineRow&) const = default;
};

struct TimelineCard {
    int groupIndex = 0;
    Group group;
    double top = 0;
    double height = 0;
    std::vector<int> rows; // indexes into TimelineLayout::rows

    bool operator==(const TimelineCard&) const = default;
};

struct TimelineLayout {
    static constexpr double rulerHeight = 34;
    static constexpr double gapHeight = 12;
    static constexpr double groupHeight = 30;
    static constexpr double videoLaneHeight = 64;
    static constexpr double audioLaneHeight = 76;

    std::vector<TimelineRow> rows;
    std::vector<double> tops; // the y of each row's top
    std::vector<TimelineCard> cards;
    double height = 0;

    // The last row whose top is at or above y (the ruler above the first row's top).
    int rowAt(double y) const;

    bool operator==(const TimelineLayout&) const = default;
};

// The ruler, then per group a gap, a title row (only for a group with no lanes or whose first
// lane is an audio lane: a video lane's header titles its group) and its lanes.
TimelineLayout timelineLayout(const std::vector<GroupLanes>& groups);

} // namespace reelbox::ui
