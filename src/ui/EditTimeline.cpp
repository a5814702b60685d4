#include "ui/EditTimeline.h"

#include "edit/TakeEditorModel.h"
#include "ui/TimelineView.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace reelbox::ui {

EditTimeline::EditTimeline(TakeEditorModel& model, TimelineHeaders::TrackHeaderFactory trackHeaders,
                           QWidget* parent)
    : QWidget(parent), m_model(model) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_scroll = new QScrollArea(this);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    outer->addWidget(m_scroll);

    auto* content = new QWidget(m_scroll);
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    m_headers = new TimelineHeaders(model, std::move(trackHeaders), content);
    m_lanes = new TimelineView(model, content);
    row->addWidget(m_headers, 0, Qt::AlignTop);
    row->addWidget(m_lanes, 1, Qt::AlignTop);
    m_scroll->setWidget(content);
    setMinimumWidth(TimelineHeaders::columnWidth + 200);

    connect(&model, &TakeEditorModel::takeChanged, this, &EditTimeline::relayout);
    relayout();
}

bool EditTimeline::scrolls() const {
    return m_scroll->verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff;
}

void EditTimeline::relayout() {
    const TimelineLayout layout = ui::timelineLayout(groups(m_model.take().info));
    if (layout == m_layout && !m_layout.rows.empty())
        return;
    m_layout = layout;
    m_headers->setTimelineLayout(layout);
    m_lanes->setTimelineLayout(layout);
    m_scroll->widget()->setFixedHeight(int(std::ceil(layout.height)));
    m_scroll->setVerticalScrollBarPolicy(timelineScrolls(layout.height) ? Qt::ScrollBarAsNeeded
                                                                        : Qt::ScrollBarAlwaysOff);
    m_scroll->setFixedHeight(visibleTimelineHeight(layout.height));
    setFixedHeight(visibleTimelineHeight(layout.height));
}

} // namespace reelbox::ui
