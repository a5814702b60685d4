#pragma once

#include "edit/EditingState.h"
#include "edit/Group.h"

#include <optional>

namespace reelbox {

// The lane's (or, without a lane, the ruler's) segment containing t; the left one at a boundary.
std::optional<TimeSpan> segmentAt(const EditingState& state, double t,
                                  const std::optional<Lane>& lane);

// Selects the ruler part at t, or clears the selection when it is already exactly that part.
std::optional<Selection> selectTimeline(const EditingState& state, double t);
// Selects the lane's part at t; with extend, adds it to (or takes it from) the selected parts.
std::optional<Selection> selectLane(const EditingState& state, const Lane& lane, double t,
                                    bool extend);
// Selects the part under the playhead in every lane of the group.
std::optional<Selection> selectGroup(const EditingState& state, const Group& group, bool extend);

std::optional<TimeSpan> selectedPart(const std::optional<Selection>& selection, const Lane& lane);
// Whether the selection marks a part that is already cut (ruler) or hidden (lane parts).
bool selectionIsRemoved(const EditState& edit, const std::optional<Selection>& selection);

} // namespace reelbox
