#pragma once

#include <QString>
#include <functional>

namespace reelbox {

// The models' view of the window's undo manager.
class UndoRegistry {
public:
    virtual ~UndoRegistry() = default;
    // Registers the action that undoes the change just made. When the action runs it registers
    // its own inverse the same way; that registration becomes the redo.
    virtual void registerUndo(const QString& actionName, std::function<void()> action) = 0;
};

} // namespace reelbox
