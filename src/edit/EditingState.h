#pragma once

#include "edit/Selection.h"
#include "model/TakeInfo.h"

#include <QString>
#include <optional>

namespace reelbox {

// What the edit operations read and change of an open take.
struct EditingState {
    TakeInfo info;
    std::optional<Selection> selection;
    double playhead = 0;       // source time
    double sourceDuration = 0; // the timeline's length
    double mainDuration = 0;   // the loaded length of the main video

    const EditState& edit() const { return info.edit; }
    bool operator==(const EditingState&) const = default;
};

// The result of an edit operation: the new state, and the action name when the edit is to be
// committed (saved, the pipeline rerun from its process stage, and registered for undo).
struct EditOutcome {
    EditingState state;
    std::optional<QString> actionName;
};

} // namespace reelbox
