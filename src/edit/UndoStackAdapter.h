#pragma once

#include "edit/UndoRegistry.h"

#include <QPointer>
#include <QUndoStack>
#include <memory>

namespace reelbox {

// Maps register-an-undo semantics onto a QUndoStack: a registration made while nothing is
// being undone pushes a command; one made while a command undoes or redoes becomes that
// command's opposite.
class UndoStackAdapter : public UndoRegistry {
public:
    explicit UndoStackAdapter(QUndoStack* stack);

    void registerUndo(const QString& actionName, std::function<void()> action) override;

    // Where registrations go while a command runs.
    struct Capture {
        std::function<void()>* slot = nullptr;
    };

private:
    QPointer<QUndoStack> m_stack;
    std::shared_ptr<Capture> m_capture;
};

} // namespace reelbox
