#pragma once

#include "ui/TimelineHeaders.h"
#include "ui/TimelineLayout.h"

#include <QWidget>
#include <algorithm>
#include <cmath>

class QScrollArea;

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

class TimelineView;

// The edit timeline: the header column beside the lanes area, in one vertical scroll area
// min(layout height, 460) high that scrolls only when the layout is taller than that.
class EditTimeline : public QWidget {
    Q_OBJECT
public:
    static constexpr int maximumVisibleHeight = 460;

    EditTimeline(
        TakeEditorModel& model,
        TimelineHeaders::TrackHeaderFactory trackHeaders = TimelineHeaders::plainTrackHeader(),
        QWidget* parent = nullptr);

    const TimelineLayout& timelineLayout() const { return m_layout; }
    TimelineView* lanes() const { return m_lanes; }
    TimelineHeaders* headers() const { return m_headers; }
    QScrollArea* scrollArea() const { return m_scroll; }
    bool scrolls() const;

private:
    void relayout();

    TakeEditorModel& m_model;
    TimelineLayout m_layout;
    QScrollArea* m_scroll = nullptr;
    TimelineHeaders* m_headers = nullptr;
    TimelineView* m_lanes = nullptr;
};

// The frame's height for a layout this tall, and whether it scrolls.
inline int visibleTimelineHeight(double layoutHeight) {
    return int(std::ceil(std::min(layoutHeight, double(EditTimeline::maximumVisibleHeight))));
}
inline bool timelineScrolls(double layoutHeight) {
    return layoutHeight > EditTimeline::maximumVisibleHeight;
}

} // namespace reelbox::ui
