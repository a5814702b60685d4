#include "edit/EditCommitter.h"

namespace reelbox {

EditCommitter::EditCommitter(Apply apply) : m_apply(std::make_shared<Apply>(std::move(apply))) {}

void EditCommitter::commit(const EditState& edit, const EditState& previous,
                           const QString& actionName, UndoRegistry* undo) const {
    commit(m_apply, edit, previous, actionName, undo);
}

void EditCommitter::commit(const std::weak_ptr<Apply>& weakApply, const EditState& edit,
                           const EditState& previous, const QString& actionName,
                           UndoRegistry* undo) {
    const auto apply = weakApply.lock();
    if (!apply)
        return;
    (*apply)(edit);
    if (!undo)
        return;
    undo->registerUndo(actionName, [weakApply, edit, previous, actionName, undo] {
        commit(weakApply, previous, edit, actionName, undo);
    });
}

} // namespace reelbox
