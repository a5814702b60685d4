#pragma once

#include "model/ExportSettings.h"
#include "model/Lane.h"

#include <QWidget>
#include <optional>

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

// Over the preview: each drawn video's tile is a hit area. Hovering one shows the open hand,
// a white dashed outline and "Drag to position"; dragging it (2 points at least) moves the
// video inside its frame and hands every new position to the model.
class PositionOverlay : public QWidget {
    Q_OBJECT
public:
    explicit PositionOverlay(TakeEditorModel& model, QWidget* parent = nullptr);

    const std::optional<Lane>& hovered() const { return m_hovered; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // The placement under `point`, the topmost first.
    std::optional<size_t> placementAt(const QPointF& point) const;
    QRectF tileRect(size_t index) const;
    double viewScale() const;
    void setHovered(std::optional<Lane> lane);

    TakeEditorModel& m_model;
    std::optional<Lane> m_hovered;
    std::optional<size_t> m_pressed;
    QPointF m_pressAt;
    std::optional<ExportSettings::Position> m_dragStart;
};

} // namespace reelbox::ui
