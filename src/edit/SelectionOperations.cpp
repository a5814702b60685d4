#include "edit/SelectionOperations.h"

namespace reelbox {

namespace {

std::optional<TimeSpan> segmentContaining(const EditState& edit, double t,
                                          const std::optional<Lane>& lane, double duration) {
    for (const TimeSpan& s : edit.segments(lane, duration))
        if (s.start <= t && t <= s.end)
            return s;
    return std::nullopt;
}

std::map<Lane, TimeSpan> currentParts(const std::optional<Selection>& selection) {
    if (selection && !selection->isTimeline())
        return selection->parts;
    return {};
}

std::optional<Selection> partsOrNothing(std::map<Lane, TimeSpan> parts) {
    if (parts.empty())
        return std::nullopt;
    return Selection::ofParts(std::move(parts));
}

} // namespace

std::optional<TimeSpan> segmentAt(const EditingState& state, double t,
                                  const std::optional<Lane>& lane) {
    return segmentContaining(state.edit(), t, lane, state.sourceDuration);
}

std::optional<Selection> selectTimeline(const EditingState& state, double t) {
    const auto s = segmentAt(state, t, std::nullopt);
    if (!s)
        return state.selection;
    const Selection selected = Selection::ofTimeline(*s);
    if (state.selection == selected)
        return std::nullopt;
    return selected;
}

std::optional<Selection> selectLane(const EditingState& state, const Lane& lane, double t,
                                    bool extend) {
    const auto s = segmentAt(state, t, lane);
    if (!s)
        return state.selection;
    if (!extend) {
        const Selection selected = Selection::ofParts({{lane, *s}});
        if (state.selection == selected)
            return std::nullopt;
        return selected;
    }
    std::map<Lane, TimeSpan> parts = currentParts(state.selection);
    if (auto it = parts.find(lane); it != parts.end() && it->second == *s)
        parts.erase(it);
    else
        parts[lane] = *s;
    return partsOrNothing(std::move(parts));
}

std::optional<Selection> selectGroup(const EditingState& state, const Group& group, bool extend) {
    std::map<Lane, TimeSpan> parts =
        extend ? currentParts(state.selection) : std::map<Lane, TimeSpan>{};
    for (const Lane& lane : lanes(state.info, group))
        if (auto s = segmentAt(state, state.playhead, lane))
            parts[lane] = *s;
    return partsOrNothing(std::move(parts));
}

std::optional<TimeSpan> selectedPart(const std::optional<Selection>& selection, const Lane& lane) {
    if (!selection || selection->isTimeline())
        return std::nullopt;
    if (auto it = selection->parts.find(lane); it != selection->parts.end())
        return it->second;
    return std::nullopt;
}

bool selectionIsRemoved(const EditState& edit, const std::optional<Selection>& selection) {
    if (!selection)
        return false;
    if (selection->isTimeline())
        return edit.isRemoved(selection->span);
    for (const auto& [lane, part] : selection->parts) {
        const double m = part.middle();
        bool hidden = false;
        for (const TimeSpan& h : edit.hiddenParts(lane))
            hidden = hidden || h.contains(m);
        if (!hidden)
            return false;
    }
    return true;
}

} // namespace reelbox
