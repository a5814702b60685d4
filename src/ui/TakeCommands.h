#pragma once

#include "model/Take.h"

#include <QObject>

class QWidget;

namespace reelbox {
class TakeLibrary;
}

namespace reelbox::ui {

// The take menu's commands, each answering in a window of its own (nothing blocks).
class TakeCommands : public QObject {
    Q_OBJECT
public:
    TakeCommands(TakeLibrary& library, QWidget* window);

    // The file manager shows take.mov, else the folder opens; else a message names the path.
    void reveal(const Take& take);
    // "Rename Take": field "Name", "Rename" stores it, "Cancel" leaves it.
    void rename(const Take& take);
    // Moves the take folder to the Trash; a take that can't be moved stays, and a message says so.
    void trash(const Take& take);

private:
    void tell(const QString& title, const QString& message);

    TakeLibrary& m_library;
    QWidget* m_window;
};

} // namespace reelbox::ui
