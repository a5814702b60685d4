#pragma once

#include "model/Lane.h"
#include "model/TakeInfo.h"
#include "model/TimeSpan.h"

#include <QString>
#include <QUuid>
#include <vector>

namespace reelbox {

// A recording on the timeline: the main take or one overdub, with its lanes.
struct Group {
    enum class Kind { take, overdub };

    Kind kind = Kind::take;
    QUuid id; // the overdub's id

    static Group take() { return {Kind::take, QUuid()}; }
    static Group overdub(const QUuid& id) { return {Kind::overdub, id}; }

    bool operator==(const Group& other) const { return kind == other.kind && id == other.id; }
};

struct GroupLanes {
    Group group;
    std::vector<Lane> lanes;
    bool operator==(const GroupLanes&) const = default;
};

// The take's group first (unless its recording was removed), then one group per overdub.
std::vector<GroupLanes> groups(const TakeInfo& info);
std::vector<Lane> lanes(const TakeInfo& info, const Group& group);
// "Take", or "Overdub n" with n the overdub's 1-based position.
QString groupName(const TakeInfo& info, const Group& group);
// Where the group's recording lies on the timeline.
TimeSpan groupSpan(const TakeInfo& info, const Group& group, double mainDuration);
bool isVideoShown(const TakeInfo& info, const Group& group);

} // namespace reelbox
