#pragma once

#include "model/EditState.h"
#include "ui/TimeAxis.h"
#include "ui/TimelineDrag.h"
#include "ui/TimelineLayout.h"

#include <QPixmap>
#include <QWidget>
#include <optional>

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

// The lanes area of the edit timeline: the ruler with its parts, a filmstrip per video lane, a
// waveform per audio lane, the removed and hidden parts, the trim frame, the split markers and
// the playhead, on one time axis. All but the playhead is drawn into a cached layer rebuilt
// when the edit, the take or the size change; a playhead move repaints two thin strips.
// Drags scrub, or trim an edge (committed on release); a click selects the part under it.
// Accessible as "Timeline", whose value is the playhead time in seconds.
class TimelineView : public QWidget {
    Q_OBJECT
public:
    explicit TimelineView(TakeEditorModel& model, QWidget* parent = nullptr);

    void setTimelineLayout(const TimelineLayout& layout);
    const TimelineLayout& timelineLayout() const { return m_layout; }
    TimeAxis axis() const;
    TakeEditorModel& model() const { return m_model; }
    // How often the cached layer was drawn.
    int layerBuilds() const { return m_layerBuilds; }
    // The x of the playhead as last painted.
    double playheadX() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Drag {
        DragKind kind = DragKind::scrub;
        QPointF start;
        EditState before; // the edit when the drag began: the undo state of a trim
        std::optional<EditState> preview;
    };

    void invalidateLayer();
    void buildLayer();
    void playheadMoved();
    QRect playheadStrip(double x) const;
    void dragTo(const QPointF& point);

    TakeEditorModel& m_model;
    TimelineLayout m_layout;
    QPixmap m_layer;
    bool m_layerValid = false;
    int m_layerBuilds = 0;
    double m_playheadX = 0;
    std::optional<Drag> m_drag;
};

} // namespace reelbox::ui
