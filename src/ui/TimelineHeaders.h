#pragma once

#include "model/Track.h"
#include "ui/TimelineLayout.h"

#include <QWidget>
#include <functional>

class QLabel;

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

// The timeline's header column, 310 wide: "All tracks" beside the ruler, a header per group
// (its icon and name, the eye and trash buttons), "Video" beside video lanes and a track header
// (made by the factory) beside each audio lane.
class TimelineHeaders : public QWidget {
    Q_OBJECT
public:
    static constexpr int columnWidth = 310;

    // Makes the header of one audio lane, 76 high.
    using TrackHeaderFactory = std::function<QWidget*(const Track& track, QWidget* parent)>;
    // A label with the track's name.
    static TrackHeaderFactory plainTrackHeader();

    TimelineHeaders(TakeEditorModel& model, TrackHeaderFactory factory, QWidget* parent = nullptr);

    void setTimelineLayout(const TimelineLayout& layout);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuild();
    void refresh();

    TakeEditorModel& m_model;
    TrackHeaderFactory m_factory;
    TimelineLayout m_layout;
    QWidget* m_ruler = nullptr;
    QLabel* m_rulerIcon = nullptr;
    QLabel* m_rulerText = nullptr;
    std::vector<QWidget*> m_rows;
};

} // namespace reelbox::ui
