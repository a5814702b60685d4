#pragma once

#include "edit/UndoRegistry.h"
#include "model/EditState.h"

#include <functional>
#include <memory>

namespace reelbox {

// Commits edit states: hands them to the owner (which stores, saves and invalidates) and
// registers the swap with the undo registry, so undo commits the previous state and
// registers the redo. Registered actions outlive the committer harmlessly.
class EditCommitter {
public:
    using Apply = std::function<void(const EditState&)>;

    explicit EditCommitter(Apply apply);

    void commit(const EditState& edit, const EditState& previous, const QString& actionName,
                UndoRegistry* undo) const;

private:
    static void commit(const std::weak_ptr<Apply>& apply, const EditState& edit,
                       const EditState& previous, const QString& actionName, UndoRegistry* undo);

    std::shared_ptr<Apply> m_apply;
};

} // namespace reelbox
