#pragma once

#include "model/Take.h"
#include "ui/SidebarItem.h"

#include <QMainWindow>

class QStackedWidget;

namespace reelbox::ui {

class ReelboxApp;
class Sidebar;
class RecorderScreen;
class TakeCommands;
class TakePlaceholder;

// The one window "Reelbox": the sidebar, and the detail showing the recorder, the selected
// take, or "No Take Selected". The recorder cannot be left while it records (the selection
// snaps back), is deactivated whenever something else is chosen, and a finished take is
// selected.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(ReelboxApp& app, QWidget* parent = nullptr);

    Sidebar& sidebar() const { return *m_sidebar; }
    RecorderScreen& recorderScreen() const { return *m_recorder; }
    // What the detail column shows now.
    QWidget* detail() const;

private:
    void selectionChanged(const SidebarItem& item);
    void showDetail(const SidebarItem& item);
    void trash(const reelbox::Take& take);

    ReelboxApp& m_app;
    Sidebar* m_sidebar;
    QStackedWidget* m_detail;
    RecorderScreen* m_recorder;
    QWidget* m_noTake;
    TakePlaceholder* m_takeView = nullptr;
    TakeCommands* m_commands;
};

} // namespace reelbox::ui
