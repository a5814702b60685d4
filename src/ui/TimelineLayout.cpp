#include "ui/TimelineLayout.h"

namespace reelbox::ui {

double TimelineRow::height() const {
    switch (kind) {
    case Kind::ruler:
        return TimelineLayout::rulerHeight;
    case Kind::gap:
        return TimelineLayout::gapHeight;
    case Kind::group:
        return TimelineLayout::groupHeight;
    case Kind::lane:
        return lane.kind == Lane::Kind::audio ? TimelineLayout::audioLaneHeight
                                              : TimelineLayout::videoLaneHeight;
    }
    return 0;
}

int TimelineLayout::rowAt(double y) const {
    int found = 0;
    for (int i = 0; i < int(tops.size()); ++i) {
        if (tops[i] <= y)
            found = i;
    }
    return found;
}

TimelineLayout timelineLayout(const std::vector<GroupLanes>& groups) {
    TimelineLayout layout;
    auto add = [&layout](const TimelineRow& row) {
        layout.rows.push_back(row);
        layout.tops.push_back(layout.height);
        layout.height += row.height();
        return int(layout.rows.size()) - 1;
    };
    add({});
    for (int i = 0; i < int(groups.size()); ++i) {
        const GroupLanes& entry = groups[i];
        add({TimelineRow::Kind::gap, i, entry.group, {}});
        TimelineCard card{i, entry.group, layout.height, 0, {}};
        if (entry.lanes.empty() || entry.lanes.front().kind == Lane::Kind::audio)
            card.rows.push_back(add({TimelineRow::Kind::group, i, entry.group, {}}));
        for (const Lane& lane : entry.lanes)
            card.rows.push_back(add({TimelineRow::Kind::lane, i, entry.group, lane}));
        card.height = layout.height - card.top;
        layout.cards.push_back(card);
    }
    return layout;
}

} // namespace reelbox::ui
