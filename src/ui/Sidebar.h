#pragma once

#include "model/Take.h"
#include "ui/SidebarItem.h"

#include <QWidget>

class QListView;

namespace reelbox {
class TakeLibrary;
}

namespace reelbox::ui {

class SidebarModel;

// The window's left column: "New Recording" and the take list, with each take's menu
// ("Show in File Manager", "Rename Take", "Move to Trash").
class Sidebar : public QWidget {
    Q_OBJECT
public:
    explicit Sidebar(TakeLibrary& library, QWidget* parent = nullptr);

    SidebarItem selection() const;
    void select(const SidebarItem& item);
    QListView& list() const { return *m_list; }
    SidebarModel& model() const { return *m_model; }

signals:
    void selectionChanged(const reelbox::ui::SidebarItem& item);
    void revealRequested(const reelbox::Take& take);
    void renameRequested(const reelbox::Take& take);
    void trashRequested(const reelbox::Take& take);

private:
    void showMenu(const QPoint& at);

    SidebarModel* m_model;
    QListView* m_list;
    SidebarItem m_last;
};

} // namespace reelbox::ui
