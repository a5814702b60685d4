#include "ui/Sidebar.h"

#include "ui/SidebarModel.h"
#include "ui/TakeRowDelegate.h"

#include <QListView>
#include <QMenu>
#include <QVBoxLayout>

namespace reelbox::ui {

Sidebar::Sidebar(TakeLibrary& library, QWidget* parent)
    : QWidget(parent), m_model(new SidebarModel(library, this)), m_list(new QListView(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->addWidget(m_list);
    m_list->setModel(m_model);
    m_list->setItemDelegate(new TakeRowDelegate(m_list));
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setUniformItemSizes(false);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setAccessibleName(QStringLiteral("Takes"));
    setMinimumWidth(240);
    connect(m_list, &QWidget::customContextMenuRequested, this, &Sidebar::showMenu);
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const SidebarItem now = selection();
        if (now == m_last)
            return;
        m_last = now;
        emit selectionChanged(now);
    });
}

SidebarItem Sidebar::selection() const {
    const QModelIndexList rows = m_list->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? SidebarItem{} : m_model->itemAt(rows.front());
}

void Sidebar::select(const SidebarItem& item) {
    const QModelIndex index = m_model->indexOf(item);
    if (!index.isValid()) {
        m_list->selectionModel()->clear(); // the current row too, so no neighbour is picked
        return;
    }
    m_list->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    m_list->scrollTo(index);
}

void Sidebar::showMenu(const QPoint& at) {
    const Take* found = m_model->takeAt(m_list->indexAt(at));
    if (!found)
        return;
    const Take take = *found;
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Show in File Manager"), this,
                    [this, take] { emit revealRequested(take); });
    menu->addAction(QStringLiteral("Rename Take"), this,
                    [this, take] { emit renameRequested(take); });
    menu->addSeparator();
    menu->addAction(QStringLiteral("Move to Trash"), this,
                    [this, take] { emit trashRequested(take); });
    menu->popup(m_list->viewport()->mapToGlobal(at));
}

} // namespace reelbox::ui
