#include "ui/EditorScreen.h"

#include "edit/EditOperations.h"
#include "edit/TakeEditorModel.h"
#include "ui/EditTimeline.h"
#include "ui/EditorKeys.h"
#include "ui/ExportFlow.h"
#include "ui/ExportHud.h"
#include "ui/ExportPopover.h"
#include "ui/ExportToast.h"
#include "ui/Format.h"
#include "ui/Icons.h"
#include "ui/KeyMonitor.h"
#include "ui/MasterRacks.h"
#include "ui/PreviewView.h"
#include "ui/Style.h"
#include "ui/TrackHeader.h"
#include "ui/TransportBar.h"

#include <QAction>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QToolButton>
#include <QVBoxLayout>

namespace reelbox::ui {

EditorScreen::EditorScreen(TakeEditorModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_title(new QLabel), m_subtitle(new QLabel),
      m_share(new QToolButton), m_preview(new PreviewView(model)),
      m_transport(new TransportBar(model)), m_below(new QVBoxLayout), m_hud(new ExportHud),
      m_toast(new ExportToast), m_popover(new ExportPopover(model, this)),
      m_export(new ExportFlow(model, this, *m_hud, *m_toast)),
      m_exportAction(new QAction(QStringLiteral("Share"), this)),
      m_keys(new KeyMonitor(this, [this](const QKeyEvent& key) {
          return handleEditorKey(m_model, key.key(), key.modifiers(), key.text());
      })) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The title row: the take's name, its edited length, and "Share".
    auto* header = new QFrame;
    header->setObjectName(QStringLiteral("editorHeader"));
    header->setStyleSheet(QStringLiteral("#editorHeader { background: #%1; }")
                              .arg(colors::barBackground, 6, 16, QLatin1Char('0')));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(20, 8, 20, 8);
    auto* names = new QVBoxLayout;
    names->setSpacing(0);
    QFont big = m_title->font();
    big.setPointSizeF(big.pointSizeF() * 1.25);
    big.setBold(true);
    m_title->setFont(big);
    m_subtitle->setForegroundRole(QPalette::PlaceholderText);
    names->addWidget(m_title);
    names->addWidget(m_subtitle);
    row->addLayout(names);
    row->addStretch();
    m_share->setText(QStringLiteral("Share"));
    m_share->setIcon(tintedIcon(QStringLiteral("document-send"), QColor(0xf2f2f4)));
    m_share->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_share->setAutoRaise(true);
    m_share->setAccessibleName(QStringLiteral("Share"));
    m_share->setToolTip(QStringLiteral("Share or save (Ctrl+E)"));
    row->addWidget(m_share);
    layout->addWidget(header);

    // The preview, with the export's progress and outcome over it.
    auto* overPreview = new QVBoxLayout(m_preview);
    overPreview->setContentsMargins(16, 16, 16, 16);
    overPreview->addStretch();
    overPreview->addWidget(m_hud, 0, Qt::AlignHCenter);
    overPreview->addStretch();
    overPreview->addWidget(m_toast, 0, Qt::AlignHCenter);
    layout->addWidget(m_preview, 1);
    layout->addWidget(m_transport);
    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    layout->addWidget(divider);
    m_below->setContentsMargins(20, 14, 20, 18);
    m_below->setSpacing(12);
    layout->addLayout(m_below);
    // The timeline with the track controls in its header column, then the master controls.
    m_timeline = new EditTimeline(model, [&model](const Track& track, QWidget* parent) {
        return new TrackHeader(model, track.id, parent);
    });
    m_below->addWidget(m_timeline);
    m_below->addWidget(new MasterRacks(model));

    m_exportAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    m_exportAction->setShortcutContext(Qt::WindowShortcut);
    m_exportAction->setToolTip(QStringLiteral("Share or save (Ctrl+E)"));
    addAction(m_exportAction);
    connect(m_exportAction, &QAction::triggered, this, [this] { m_popover->toggleUnder(m_share); });
    connect(m_share, &QToolButton::clicked, m_exportAction, &QAction::trigger);
    connect(m_popover, &ExportPopover::saveRequested, m_export, &ExportFlow::save);
    connect(m_popover, &ExportPopover::shareRequested, m_export, &ExportFlow::share);

    for (auto changed : {&TakeEditorModel::takeChanged, &TakeEditorModel::sourceDurationChanged})
        connect(&model, changed, this, &EditorScreen::showTitle);
    connect(&model, &TakeEditorModel::errorMessageChanged, this, &EditorScreen::showError);
    showTitle();
    showError();
}

void EditorScreen::showEvent(QShowEvent*) {
    m_keys->install();
}

void EditorScreen::hideEvent(QHideEvent*) {
    m_keys->remove();
}

void EditorScreen::showTitle() {
    m_title->setText(m_model.take().info.name);
    m_subtitle->setText(formatDuration(editedDuration(m_model.editingState())));
}

void EditorScreen::showError() {
    const std::optional<QString> message = m_model.errorMessage();
    if (!message) {
        if (m_problem)
            m_problem->close();
        return;
    }
    if (!m_problem) {
        m_problem = new QMessageBox(QMessageBox::Warning, QStringLiteral("Problem"), {},
                                    QMessageBox::Ok, this);
        connect(m_problem, &QMessageBox::finished, &m_model,
                [this] { m_model.setErrorMessage(std::nullopt); });
    }
    m_problem->setText(QStringLiteral("Problem"));
    m_problem->setInformativeText(*message);
    m_problem->open();
}

} // namespace reelbox::ui
