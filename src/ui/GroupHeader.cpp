#include "ui/GroupHeader.h"

#include "edit/SelectionOperations.h"
#include "edit/TakeEditorModel.h"
#include "ui/GroupDeletion.h"
#include "ui/Icons.h"
#include "ui/TimelineLayer.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QToolButton>

namespace reelbox::ui {

namespace {

const QString selectHelp =
    QStringLiteral("Click a recording's title to select all its tracks; Shift adds");

bool hasVideo(const TakeInfo& info, const Group& group) {
    for (const Lane& lane : lanes(info, group))
        if (lane.kind != Lane::Kind::audio)
            return true;
    return false;
}

QToolButton* iconButton(const QString& icon, const QString& name, const QString& help,
                        QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setIcon(tintedIcon(icon, parent->palette().color(QPalette::WindowText)));
    button->setFixedSize(28, 28);
    button->setAutoRaise(true);
    button->setAccessibleName(name);
    button->setToolTip(help);
    button->setStyleSheet(QStringLiteral(
        "QToolButton { background: rgba(255,255,255,20); border: none; border-radius: 6px; }"));
    return button;
}

} // namespace

GroupHeader::GroupHeader(TakeEditorModel& model, const Group& group, QWidget* parent)
    : QWidget(parent), m_model(model), m_group(group) {
    const TakeInfo& info = model.take().info;
    const QColor color = groupColor(group, palette());
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(8, 0, 8, 0);
    row->setSpacing(6);
    auto* icon = new QLabel(this);
    icon->setFixedWidth(22);
    icon->setPixmap(tintedPixmap(hasVideo(info, group) ? QStringLiteral("video-x-generic")
                                                       : QStringLiteral("audio-x-generic"),
                                 color, 16, devicePixelRatioF()));
    row->addWidget(icon);
    m_name = new QLabel(this);
    QFont bold = m_name->font();
    bold.setBold(true);
    m_name->setFont(bold);
    QPalette namePalette = m_name->palette();
    namePalette.setColor(QPalette::WindowText, color);
    m_name->setPalette(namePalette);
    m_name->setToolTip(selectHelp);
    setToolTip(selectHelp);
    row->addWidget(m_name, 1);
    if (hasVideo(info, group)) {
        m_eye = iconButton(QStringLiteral("view-visible"), {}, {}, this);
        connect(m_eye, &QToolButton::clicked, this, [this] {
            m_model.setVideoShown(m_group, !isVideoShown(m_model.take().info, m_group));
        });
        row->addWidget(m_eye);
    }
    auto* trash = iconButton(QStringLiteral("user-trash"), QStringLiteral("Delete recording"),
                             QStringLiteral("Delete this recording (video and sound)"), this);
    connect(trash, &QToolButton::clicked, this, &GroupHeader::askToDelete);
    row->addWidget(trash);
    refresh();
}

void GroupHeader::refresh() {
    const TakeInfo& info = m_model.take().info;
    const QString name = groupName(info, m_group);
    m_name->setText(name);
    m_name->setAccessibleName(name);
    if (!m_eye)
        return;
    const bool shown = isVideoShown(info, m_group);
    m_eye->setIcon(
        tintedIcon(shown ? QStringLiteral("view-visible") : QStringLiteral("view-hidden"),
                   palette().color(QPalette::WindowText)));
    m_eye->setAccessibleName(shown ? QStringLiteral("Hide video") : QStringLiteral("Show video"));
    m_eye->setToolTip(shown ? QStringLiteral("Hide this video from the picture")
                            : QStringLiteral("Show this video in the picture"));
}

void GroupHeader::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return QWidget::mousePressEvent(event);
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
    m_model.setSelection(selectGroup(m_model.editingState(), m_group, extend));
}

void GroupHeader::askToDelete() {
    const DeleteConfirmation question = deleteConfirmation(m_model.take().info, m_group);
    auto* box = new QMessageBox(QMessageBox::Warning, question.title, question.title,
                                QMessageBox::Cancel, this);
    box->setInformativeText(question.message);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QPushButton* confirm = box->addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    box->setDefaultButton(QMessageBox::Cancel);
    connect(box, &QMessageBox::buttonClicked, this, [this, confirm](QAbstractButton* clicked) {
        if (clicked == confirm)
            m_model.deleteRecording(m_group);
    });
    box->open();
}

} // namespace reelbox::ui
