#include "edit/UndoStackAdapter.h"

#include <QUndoCommand>

namespace reelbox {

namespace {

class SwapCommand : public QUndoCommand {
public:
    SwapCommand(std::shared_ptr<UndoStackAdapter::Capture> capture, const QString& name,
                std::function<void()> undoAction)
        : m_capture(std::move(capture)), m_undo(std::move(undoAction)) {
        setText(name);
    }

    void undo() override { run(m_undo, m_redo); }

    void redo() override {
        // push() calls redo() at once; the change itself has already been made.
        if (m_pushed) {
            m_pushed = false;
            return;
        }
        run(m_redo, m_undo);
    }

private:
    void run(const std::function<void()>& action, std::function<void()>& opposite) {
        std::function<void()> registered;
        m_capture->slot = &registered;
        if (action)
            action();
        m_capture->slot = nullptr;
        opposite = std::move(registered);
    }

    std::shared_ptr<UndoStackAdapter::Capture> m_capture;
    std::function<void()> m_undo;
    std::function<void()> m_redo;
    bool m_pushed = true;
};

} // namespace

UndoStackAdapter::UndoStackAdapter(QUndoStack* stack)
    : m_stack(stack), m_capture(std::make_shared<Capture>()) {}

void UndoStackAdapter::registerUndo(const QString& actionName, std::function<void()> action) {
    if (m_capture->slot) {
        *m_capture->slot = std::move(action);
        return;
    }
    if (!m_stack)
        return;
    // The stack owns its commands.
    m_stack->push(
        std::make_unique<SwapCommand>(m_capture, actionName, std::move(action)).release());
}

} // namespace reelbox
