#include "ui/TimelineHeaders.h"

#include "edit/TakeEditorModel.h"
#include "ui/GroupHeader.h"
#include "ui/Icons.h"
#include "ui/Style.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <cmath>

namespace reelbox::ui {

namespace {

const QString rulerHelp = QStringLiteral("Select a part in the ruler to cut it from every track");

// "Video" beside a video lane; the first lane of its group also carries the group's title.
QWidget* videoHeader(TakeEditorModel& model, const Group& group, QWidget* parent) {
    auto* header = new QWidget(parent);
    auto* column = new QVBoxLayout(header);
    column->setContentsMargins(0, 2, 0, 4);
    column->setSpacing(0);
    auto* title = new GroupHeader(model, group, header);
    title->setFixedHeight(30);
    column->addWidget(title);
    auto* label = new QLabel(QStringLiteral("Video"), header);
    label->setContentsMargins(38, 0, 0, 0);
    QPalette secondary = label->palette();
    secondary.setColor(QPalette::WindowText, QColor(colors::secondaryText));
    label->setPalette(secondary);
    column->addWidget(label);
    column->addStretch(1);
    return header;
}

} // namespace

TimelineHeaders::TrackHeaderFactory TimelineHeaders::plainTrackHeader() {
    return [](const Track& track, QWidget* parent) -> QWidget* {
        auto* label = new QLabel(track.name, parent);
        label->setContentsMargins(38, 0, 8, 0);
        label->setAccessibleName(track.name);
        return label;
    };
}

TimelineHeaders::TimelineHeaders(TakeEditorModel& model, TrackHeaderFactory factory,
                                 QWidget* parent)
    : QWidget(parent), m_model(model),
      m_factory(factory ? std::move(factory) : plainTrackHeader()) {
    setFixedWidth(columnWidth);
    m_ruler = new QWidget(this);
    auto* row = new QHBoxLayout(m_ruler);
    row->setContentsMargins(8, 4, 8, 4);
    row->setSpacing(6);
    m_rulerIcon = new QLabel(m_ruler);
    m_rulerIcon->setFixedWidth(22);
    row->addWidget(m_rulerIcon);
    m_rulerText = new QLabel(QStringLiteral("All tracks"), m_ruler);
    QFont semibold = m_rulerText->font();
    semibold.setWeight(QFont::DemiBold);
    m_rulerText->setFont(semibold);
    m_rulerText->setToolTip(rulerHelp);
    m_ruler->setToolTip(rulerHelp);
    row->addWidget(m_rulerText, 1);
    m_ruler->setAutoFillBackground(true);
    m_ruler->setGeometry(0, 0, columnWidth, int(TimelineLayout::rulerHeight));
    connect(&model, &TakeEditorModel::selectionChanged, this, &TimelineHeaders::refresh);
    connect(&model, &TakeEditorModel::takeChanged, this, &TimelineHeaders::refresh);
    refresh();
}

void TimelineHeaders::setTimelineLayout(const TimelineLayout& layout) {
    if (layout == m_layout)
        return;
    m_layout = layout;
    setFixedHeight(int(std::ceil(layout.height)));
    rebuild();
}

void TimelineHeaders::rebuild() {
    for (QWidget* row : m_rows)
        row->deleteLater();
    m_rows.clear();
    for (std::size_t i = 0; i < m_layout.rows.size(); ++i) {
        const TimelineRow& row = m_layout.rows[i];
        QWidget* header = nullptr;
        if (row.kind == TimelineRow::Kind::group) {
            header = new GroupHeader(m_model, row.group, this);
        } else if (row.kind == TimelineRow::Kind::lane && row.lane.kind != Lane::Kind::audio) {
            header = videoHeader(m_model, row.group, this);
        } else if (row.kind == TimelineRow::Kind::lane) {
            if (const Track* track = m_model.track(row.lane.id))
                header = m_factory(*track, this);
        }
        if (!header)
            continue;
        header->setGeometry(0, int(m_layout.tops[i]), columnWidth, int(row.height()));
        header->show();
        m_rows.push_back(header);
    }
    update();
}

void TimelineHeaders::refresh() {
    const auto& selection = m_model.selection();
    const bool active = selection && selection->isTimeline();
    const QColor accent = palette().color(QPalette::Highlight);
    const QColor color = active ? accent : QColor(colors::secondaryText);
    m_rulerIcon->setPixmap(
        tintedPixmap(QStringLiteral("view-list-details"), color, 16, devicePixelRatioF()));
    QPalette look = m_ruler->palette();
    look.setColor(QPalette::WindowText, color);
    QColor fill = accent;
    fill.setAlphaF(active ? 0.1f : 0.0f);
    look.setColor(QPalette::Window, active ? fill : palette().color(QPalette::Window));
    m_ruler->setPalette(look);
    m_rulerText->setPalette(look);
    for (QWidget* row : m_rows) {
        if (auto* header = qobject_cast<GroupHeader*>(row))
            header->refresh();
        for (auto* header : row->findChildren<GroupHeader*>())
            header->refresh();
    }
}

void TimelineHeaders::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const TimelineCard& card : m_layout.cards) {
        QPainterPath path;
        path.addRoundedRect(QRectF(0.5, card.top + 0.5, width() - 1, card.height - 1), 10, 10);
        painter.fillPath(path, palette().color(QPalette::Base));
        painter.fillPath(path, QColor(0, 0, 0, 18));
        QColor border = palette().color(QPalette::WindowText);
        border.setAlphaF(0.1f);
        painter.setPen(QPen(border, 1));
        painter.drawPath(path);
    }
}

} // namespace reelbox::ui
