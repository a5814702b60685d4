#pragma once

#include "edit/Group.h"
#include "model/TakeInfo.h"

#include <QString>

namespace reelbox::ui {

// The question asked before a group's recording is deleted.
struct DeleteConfirmation {
    QString title;
    QString message;
    bool operator==(const DeleteConfirmation&) const = default;
};

// The whole take when it is the take's own group and there are no overdubs; the original
// recording when there are; otherwise one overdub.
DeleteConfirmation deleteConfirmation(const TakeInfo& info, const Group& group);

} // namespace reelbox::ui
