#pragma once

#include "model/Take.h"
#include "ui/SidebarItem.h"

#include <QMainWindow>
#include <memory>

class QStackedWidget;
class QUndoStack;

namespace reelbox {
class UndoStackAdapter;
}

namespace reelbox::ui {

class ReelboxApp;
class Sidebar;
class RecorderScreen;
class TakeCommands;
class TakeDetail;

// The one window "Reelbox": the sidebar, and the detail showing the recorder, the selected
// take, or "No Take Selected". The recorder cannot be left while it records (the selection
// snaps back), is deactivated whenever something else is chosen, and a finished take is
// selected.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(ReelboxApp& app, QWidget* parent = nullptr);
    ~MainWindow() override;

    Sidebar& sidebar() const { return *m_sidebar; }
    RecorderScreen& recorderScreen() const { return *m_recorder; }
    // What the detail column shows now.
    QWidget* detail() const;
    // The open take's detail, if a take is selected.
    TakeDetail* takeDetail() const { return m_takeView; }
    // The window's undo history ("Edit" menu: Ctrl+Z, Ctrl+Shift+Z), emptied when the take
    // changes.
    QUndoStack& undoStack() const { return *m_undo; }

private:
    void selectionChanged(const SidebarItem& item);
    void showDetail(const SidebarItem& item);
    void trash(const reelbox::Take& take);
    void setTakeView(TakeDetail* view);

    ReelboxApp& m_app;
    Sidebar* m_sidebar;
    QStackedWidget* m_detail;
    RecorderScreen* m_recorder;
    QWidget* m_noTake;
    TakeDetail* m_takeView = nullptr;
    TakeCommands* m_commands;
    QUndoStack* m_undo;
    std::unique_ptr<UndoStackAdapter> m_undoAdapter;
};

} // namespace reelbox::ui
