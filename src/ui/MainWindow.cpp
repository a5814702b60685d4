#include "ui/MainWindow.h"

#include "capture/RecorderModel.h"
#include "model/TakeLibrary.h"
#include "ui/EmptyState.h"
#include "ui/RecorderScreen.h"
#include "ui/ReelboxApp.h"
#include "ui/Sidebar.h"
#include "ui/Style.h"
#include "ui/TakeCommands.h"
#include "ui/TakePlaceholder.h"

#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>

namespace reelbox::ui {

MainWindow::MainWindow(ReelboxApp& app, QWidget* parent)
    : QMainWindow(parent), m_app(app), m_sidebar(new Sidebar(app.library())),
      m_detail(new QStackedWidget),
      m_recorder(new RecorderScreen(app.recorder(), app.devices(), app.library())),
      m_noTake(new EmptyState(QStringLiteral("video-x-generic"), QStringLiteral("No Take Selected"),
                              {}, QColor(colors::secondaryText))),
      m_commands(new TakeCommands(app.library(), this)) {
    setWindowTitle(QStringLiteral("Reelbox"));
    resize(1400, 950);
    setMinimumSize(1000, 700);
    auto* split = new QSplitter(this);
    split->setChildrenCollapsible(false);
    split->addWidget(m_sidebar);
    split->addWidget(m_detail);
    split->setStretchFactor(1, 1);
    split->setSizes({280, 1120});
    setCentralWidget(split);
    m_detail->addWidget(m_noTake);
    m_detail->addWidget(m_recorder);
    m_detail->setCurrentWidget(m_noTake);

    connect(m_sidebar, &Sidebar::selectionChanged, this, &MainWindow::selectionChanged);
    connect(m_sidebar, &Sidebar::revealRequested, m_commands, &TakeCommands::reveal);
    connect(m_sidebar, &Sidebar::renameRequested, m_commands, &TakeCommands::rename);
    connect(m_sidebar, &Sidebar::trashRequested, this, &MainWindow::trash);
    connect(m_recorder, &RecorderScreen::finished, this,
            [this](const Take& take) { m_sidebar->select(SidebarItem::take(take.folder)); });
    connect(&app.library(), &TakeLibrary::takesChanged, this,
            [this] { showDetail(m_sidebar->selection()); });
}

QWidget* MainWindow::detail() const {
    return m_detail->currentWidget();
}

void MainWindow::selectionChanged(const SidebarItem& item) {
    RecorderModel& recorder = m_app.recorder();
    if (recorder.state().kind == RecorderState::Kind::recording &&
        item.kind != SidebarItem::Kind::recorder) {
        // Not while it records: back to the recorder once this change has settled.
        QTimer::singleShot(0, this, [this] { m_sidebar->select(SidebarItem::recorder()); });
        return;
    }
    if (item.kind != SidebarItem::Kind::recorder)
        recorder.deactivate();
    showDetail(item);
}

void MainWindow::showDetail(const SidebarItem& item) {
    if (item.kind == SidebarItem::Kind::recorder) {
        if (m_detail->currentWidget() != m_recorder) {
            m_detail->setCurrentWidget(m_recorder);
            m_recorder->activate();
        }
        return;
    }
    const Take* take = nullptr;
    if (item.kind == SidebarItem::Kind::take)
        for (const Take& t : m_app.library().takes())
            if (t.folder == item.folder)
                take = &t;
    if (!take) {
        m_detail->setCurrentWidget(m_noTake);
    } else if (!m_takeView || !m_takeView->shows(*take) ||
               m_detail->currentWidget() != m_takeView) {
        auto* view = new TakePlaceholder(*take);
        m_detail->addWidget(view);
        m_detail->setCurrentWidget(view);
        if (m_takeView)
            m_takeView->deleteLater();
        m_takeView = view;
        return;
    }
    if (m_takeView && m_detail->currentWidget() != m_takeView) {
        m_takeView->deleteLater();
        m_takeView = nullptr;
    }
}

void MainWindow::trash(const Take& take) {
    if (m_sidebar->selection() == SidebarItem::take(take.folder))
        m_sidebar->select({});
    m_commands->trash(take);
}

} // namespace reelbox::ui
