#include "ui/TransportBar.h"

#include "edit/EditOperations.h"
#include "edit/SelectionOperations.h"
#include "edit/TakeEditorModel.h"
#include "ui/EditorKeys.h"
#include "ui/Format.h"
#include "ui/Icons.h"
#include "ui/Style.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

namespace reelbox::ui {

namespace {

const QColor iconColor(0xf2f2f4);

// An icon-only button in a rounded square of `side` points, filled faintly.
QToolButton* squareButton(const QString& name, const QString& icon, int iconSize, int side,
                          int fillAlpha, const QString& help) {
    auto* button = new QToolButton;
    button->setIcon(tintedIcon(icon, iconColor));
    button->setIconSize(QSize(iconSize, iconSize));
    button->setFixedSize(side, side);
    button->setAccessibleName(name);
    button->setToolTip(help);
    button->setAutoRaise(true);
    button->setStyleSheet(QStringLiteral("QToolButton { background: rgba(255, 255, 255, %1); "
                                         "border: none; border-radius: %2px; }"
                                         "QToolButton:pressed { background: rgba(255, 255, 255, "
                                         "60); }")
                              .arg(fillAlpha)
                              .arg(side / 4));
    return button;
}

// A tool: its symbol and its name.
QToolButton* toolButton(const QString& name, const QString& icon, const QString& help) {
    auto* button = new QToolButton;
    button->setText(name);
    button->setIcon(tintedIcon(icon, iconColor));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAccessibleName(name);
    button->setToolTip(help);
    button->setAutoRaise(true);
    return button;
}

const char* const helpLines[] = {
    "S  split the selected tracks (or all tracks) at the playhead",
    "Click a part in a track, then \u232b to remove it from that track",
    "Click a recording's title to select all its tracks; Shift adds",
    "Click a part in the ruler, then \u232b to cut it from everything",
    "Drag the yellow edges to trim",
    "I / O  trim start / end at playhead",
    "\u2190 \u2192  step one frame",
    "Return  back to start",
};

} // namespace

TransportBar::TransportBar(TakeEditorModel& model, QWidget* parent)
    : QFrame(parent), m_model(model),
      m_play(squareButton(QStringLiteral("Play"), QStringLiteral("media-playback-start"), 22, 44,
                          20, QStringLiteral("Play / Pause (Space)"))),
      m_time(new QLabel),
      m_delete(toolButton(QStringLiteral("Delete"), QStringLiteral("user-trash"),
                          QStringLiteral("Remove the selected part (\u232b)"))),
      m_restore(toolButton(QStringLiteral("Restore"), QStringLiteral("edit-undo"),
                           QStringLiteral("Bring the selected part back (\u232b)"))) {
    setObjectName(QStringLiteral("transportBar"));
    setStyleSheet(QStringLiteral("#transportBar { background: #%1; }")
                      .arg(colors::barBackground, 6, 16, QLatin1Char('0')));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 12, 20, 12);
    layout->setSpacing(12);

    auto* back =
        squareButton(QStringLiteral("Back to start"), QStringLiteral("media-skip-backward"), 15, 34,
                     15, QStringLiteral("Back to start (Return)"));
    connect(back, &QToolButton::clicked, &model, &TakeEditorModel::jumpToStart);
    layout->addWidget(back);
    connect(m_play, &QToolButton::clicked, this, [this] { togglePlayback(m_model); });
    layout->addWidget(m_play);

    m_time->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_time->setTextInteractionFlags(Qt::NoTextInteraction);
    layout->addWidget(m_time);
    layout->addStretch();

    auto* split = toolButton(
        QStringLiteral("Split"), QStringLiteral("edit-cut"),
        QStringLiteral(
            "Split at the playhead (S): the selected tracks, or all tracks if none is selected"));
    connect(split, &QToolButton::clicked, this,
            [this] { m_model.apply(splitAtPlayhead(m_model.editingState())); });
    layout->addWidget(split);
    connect(m_restore, &QToolButton::clicked, this,
            [this] { m_model.apply(restoreSelected(m_model.editingState())); });
    layout->addWidget(m_restore);
    connect(m_delete, &QToolButton::clicked, this,
            [this] { m_model.apply(removeSelected(m_model.editingState())); });
    layout->addWidget(m_delete);
    auto* overdub = toolButton(
        QStringLiteral("Overdub"), QStringLiteral("list-add"),
        QStringLiteral("Record another part (sound, or sound and video) while the take plays"));
    connect(overdub, &QToolButton::clicked, this, [this] { m_model.setOverdubbing(true); });
    layout->addWidget(overdub);

    auto* divider = new QFrame;
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    layout->addWidget(divider);

    auto* more = new QToolButton;
    more->setIcon(tintedIcon(QStringLiteral("view-more"), iconColor));
    more->setAutoRaise(true);
    more->setPopupMode(QToolButton::InstantPopup);
    more->setAccessibleName(QStringLiteral("More"));
    more->setToolTip(QStringLiteral("More"));
    more->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    auto* menu = new QMenu(more);
    menu->addAction(QStringLiteral("Undo All Edits"), this,
                    [this] { m_model.apply(resetEdits(m_model.editingState())); });
    menu->addSeparator();
    for (const char* line : helpLines)
        menu->addAction(QString::fromUtf8(line))->setEnabled(false);
    more->setMenu(menu);
    layout->addWidget(more);

    connect(&model, &TakeEditorModel::isPlayingChanged, this, &TransportBar::showPlaying);
    for (auto changed :
         {&TakeEditorModel::playheadChanged, &TakeEditorModel::takeChanged,
          &TakeEditorModel::sourceDurationChanged, &TakeEditorModel::playerSpansChanged})
        connect(&model, changed, this, &TransportBar::showTime);
    for (auto changed : {&TakeEditorModel::selectionChanged, &TakeEditorModel::takeChanged})
        connect(&model, changed, this, &TransportBar::showSelection);
    showPlaying();
    showTime();
    showSelection();
}

void TransportBar::showPlaying() {
    const bool playing = m_model.isPlaying();
    m_play->setIcon(tintedIcon(playing ? QStringLiteral("media-playback-pause")
                                       : QStringLiteral("media-playback-start"),
                               iconColor));
    m_play->setAccessibleName(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

void TransportBar::showTime() {
    const QString text = formatTime(m_model.outputTime(), true) + QStringLiteral(" / ") +
                         formatTime(editedDuration(m_model.editingState()), true);
    m_time->setText(text);
    m_time->setAccessibleName(text);
}

void TransportBar::showSelection() {
    const bool removed = selectionIsRemoved(m_model.take().info.edit, m_model.selection());
    m_restore->setVisible(removed);
    m_delete->setVisible(!removed);
}

} // namespace reelbox::ui
