#include "edit/Group.h"

#include <algorithm>

namespace reelbox {

std::vector<GroupLanes> groups(const TakeInfo& info) {
    std::vector<GroupLanes> result;
    if (!info.mainRemoved) {
        GroupLanes take{Group::take(), {Lane::mainVideo()}};
        for (const Track& t : info.tracks)
            if (t.source.isInput())
                take.lanes.push_back(Lane::audio(t.id));
        result.push_back(std::move(take));
    }
    for (const Overdub& o : info.overdubs) {
        GroupLanes overdub{Group::overdub(o.id), {}};
        if (o.hasVideo)
            overdub.lanes.push_back(Lane::overdubVideo(o.id));
        for (const Track& t : info.tracks)
            if (t.source.isOverdub(o.id))
                overdub.lanes.push_back(Lane::audio(t.id));
        result.push_back(std::move(overdub));
    }
    return result;
}

std::vector<Lane> lanes(const TakeInfo& info, const Group& group) {
    for (GroupLanes& entry : groups(info))
        if (entry.group == group)
            return std::move(entry.lanes);
    return {};
}

QString groupName(const TakeInfo& info, const Group& group) {
    if (group.kind == Group::Kind::take)
        return QStringLiteral("Take");
    const auto it = std::find_if(info.overdubs.begin(), info.overdubs.end(),
                                 [&](const Overdub& o) { return o.id == group.id; });
    const auto index = it == info.overdubs.end() ? 0 : it - info.overdubs.begin();
    return QStringLiteral("Overdub %1").arg(index + 1);
}

TimeSpan groupSpan(const TakeInfo& info, const Group& group, double mainDuration) {
    if (group.kind == Group::Kind::take)
        return {0, mainDuration};
    if (const Overdub* o = info.overdub(group.id))
        return {std::max(0.0, o->placedStart()), o->placedEnd()};
    return {0, 0};
}

bool isVideoShown(const TakeInfo& info, const Group& group) {
    if (group.kind == Group::Kind::take)
        return info.showMainVideo;
    const Overdub* o = info.overdub(group.id);
    return o ? o->showVideo : true;
}

} // namespace reelbox
