#include "ui/MainWindow.h"

#include "capture/RecorderModel.h"
#include "edit/UndoStackAdapter.h"
#include "model/TakeLibrary.h"
#include "ui/EmptyState.h"
#include "ui/RecorderScreen.h"
#include "ui/ReelboxApp.h"
#include "ui/Sidebar.h"
#include "ui/Style.h"
#include "ui/TakeCommands.h"
#include "ui/TakeDetail.h"

#include <QMenuBar>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QUndoStack>

namespace reelbox::ui {

MainWindow::MainWindow(ReelboxApp& app, QWidget* parent)
    : QMainWindow(parent), m_app(app), m_sidebar(new Sidebar(app.library())),
      m_detail(new QStackedWidget),
      m_recorder(new RecorderScreen(app.recorder(), app.devices(), app.library())),
      m_noTake(new EmptyState(QStringLiteral("video-x-generic"), QStringLiteral("No Take Selected"),
                              {}, QColor(colors::secondaryText))),
      m_commands(new TakeCommands(app.library(), this)), m_undo(new QUndoStack(this)),
      m_undoAdapter(std::make_unique<UndoStackAdapter>(m_undo)) {
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

    QMenu* edit = menuBar()->addMenu(QStringLiteral("Edit"));
    QAction* undo = m_undo->createUndoAction(this, QStringLiteral("Undo"));
    undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    QAction* redo = m_undo->createRedoAction(this, QStringLiteral("Redo"));
    redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    edit->addAction(undo);
    edit->addAction(redo);

    connect(m_sidebar, &Sidebar::selectionChanged, this, &MainWindow::selectionChanged);
    connect(m_sidebar, &Sidebar::revealRequested, m_commands, &TakeCommands::reveal);
    connect(m_sidebar, &Sidebar::renameRequested, m_commands, &TakeCommands::rename);
    connect(m_sidebar, &Sidebar::trashRequested, this, &MainWindow::trash);
    connect(m_recorder, &RecorderScreen::finished, this,
            [this](const Take& take) { m_sidebar->select(SidebarItem::take(take.folder)); });
    connect(&app.library(), &TakeLibrary::takesChanged, this,
            [this] { showDetail(m_sidebar->selection()); });
}

MainWindow::~MainWindow() {
    // The take views save and stop as they go, while the window can still hear of it.
    disconnect(&m_app.library(), nullptr, this, nullptr);
    m_takeView = nullptr;
    for (auto* view : m_detail->findChildren<TakeDetail*>(Qt::FindDirectChildrenOnly))
        delete view;
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
    const Take* take = nullptr;
    if (item.kind == SidebarItem::Kind::take)
        for (const Take& t : m_app.library().takes())
            if (t.folder == item.folder)
                take = &t;
    // Another take, or none: the open one's editor goes (a rename keeps it).
    if (!take || (m_takeView && m_takeView->folder() != take->folder))
        setTakeView(nullptr);
    if (item.kind == SidebarItem::Kind::recorder) {
        if (m_detail->currentWidget() != m_recorder) {
            m_detail->setCurrentWidget(m_recorder);
            m_recorder->activate();
        }
        return;
    }
    if (!take) {
        m_detail->setCurrentWidget(m_noTake);
        return;
    }
    if (!m_takeView) {
        auto* view = new TakeDetail(*take, m_app.library(), m_app.sound(), m_app.devices(),
                                    m_undoAdapter.get());
        m_detail->addWidget(view);
        setTakeView(view);
    }
    m_detail->setCurrentWidget(m_takeView);
}

void MainWindow::setTakeView(TakeDetail* view) {
    if (m_takeView == view)
        return;
    TakeDetail* old = std::exchange(m_takeView, view);
    m_undo->clear();
    if (old) {
        if (m_detail->currentWidget() == old)
            m_detail->setCurrentWidget(view ? static_cast<QWidget*>(view) : m_noTake);
        old->deleteLater();
    }
}

void MainWindow::trash(const Take& take) {
    if (m_sidebar->selection() == SidebarItem::take(take.folder))
        m_sidebar->select({});
    m_commands->trash(take);
}

} // namespace reelbox::ui
