#include "ui/PositionOverlay.h"

#include "edit/TakeEditorModel.h"
#include "ui/PreviewGeometry.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace reelbox::ui {

namespace {
const QString dragCaption = QStringLiteral("Drag to position");
constexpr double minimumDrag = 2;
} // namespace

PositionOverlay::PositionOverlay(TakeEditorModel& model, QWidget* parent)
    : QWidget(parent), m_model(model) {
    setMouseTracking(true);
    setAttribute(Qt::WA_NoSystemBackground);
    for (auto changed : {&TakeEditorModel::placementsChanged, &TakeEditorModel::renderSizeChanged})
        connect(&model, changed, this, [this] {
            if (m_hovered && !m_pressed)
                setHovered(std::nullopt);
            update();
        });
}

double PositionOverlay::viewScale() const {
    return fitInto(m_model.renderSize(), {double(width()), double(height())}).scale;
}

QRectF PositionOverlay::tileRect(size_t index) const {
    const ViewFit fit = fitInto(m_model.renderSize(), {double(width()), double(height())});
    const RectD r = fit.map(m_model.placements().at(index).tile);
    return {r.x, r.y, r.width, r.height};
}

std::optional<size_t> PositionOverlay::placementAt(const QPointF& point) const {
    const auto& placements = m_model.placements();
    for (size_t i = placements.size(); i-- > 0;) // drawn last = on top
        if (tileRect(i).contains(point))
            return i;
    return std::nullopt;
}

void PositionOverlay::setHovered(std::optional<Lane> lane) {
    if (m_hovered == lane)
        return;
    m_hovered = std::move(lane);
    if (m_hovered)
        setCursor(Qt::OpenHandCursor);
    else
        unsetCursor();
    update();
}

void PositionOverlay::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = placementAt(event->position());
    m_pressAt = event->position();
    m_dragStart.reset();
}

void PositionOverlay::mouseMoveEvent(QMouseEvent* event) {
    if (!m_pressed) {
        const auto at = placementAt(event->position());
        setHovered(at ? std::optional(m_model.placements()[*at].lane) : std::nullopt);
        return;
    }
    if (*m_pressed >= m_model.placements().size())
        return;
    const auto placement = m_model.placements()[*m_pressed];
    const QPointF moved = event->position() - m_pressAt;
    if (!m_dragStart) {
        if (std::hypot(moved.x(), moved.y()) < minimumDrag)
            return;
        m_dragStart = m_model.exportSettings().position(placement.lane);
        setCursor(Qt::ClosedHandCursor);
    }
    m_model.setPosition(draggedPosition(*m_dragStart, placement.tile, placement.crop,
                                        placement.sourceSize, viewScale(), moved.x(), moved.y(),
                                        m_model.exportSettings().mirror),
                        placement.lane);
}

void PositionOverlay::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const bool dragged = m_dragStart.has_value();
    m_pressed.reset();
    m_dragStart.reset();
    if (dragged)
        setCursor(Qt::OpenHandCursor);
    const auto at = placementAt(event->position());
    setHovered(at ? std::optional(m_model.placements()[*at].lane) : std::nullopt);
}

void PositionOverlay::leaveEvent(QEvent*) {
    if (!m_pressed)
        setHovered(std::nullopt);
}

void PositionOverlay::paintEvent(QPaintEvent*) {
    if (!m_hovered)
        return;
    const auto& placements = m_model.placements();
    for (size_t i = 0; i < placements.size(); ++i) {
        if (!(placements[i].lane == *m_hovered))
            continue;
        const QRectF tile = tileRect(i);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(QColor(255, 255, 255, 204), 2);
        pen.setDashPattern({5, 5}); // dash 10 at width 2
        painter.setPen(pen);
        painter.drawRect(tile.adjusted(1, 1, -1, -1));
        QFont font = painter.font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        font.setWeight(QFont::DemiBold);
        painter.setFont(font);
        const QFontMetricsF metrics(font);
        QRectF pill(0, 0, metrics.horizontalAdvance(dragCaption) + 16, metrics.height() + 8);
        pill.moveCenter(tile.center());
        QPainterPath path;
        path.addRoundedRect(pill, pill.height() / 2, pill.height() / 2);
        painter.fillPath(path, QColor(0, 0, 0, 140));
        painter.setPen(Qt::white);
        painter.drawText(pill, Qt::AlignCenter, dragCaption);
        return;
    }
}

} // namespace reelbox::ui
