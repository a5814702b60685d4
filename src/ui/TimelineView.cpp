#include "ui/TimelineView.h"

#include "edit/EditOperations.h"
#include "edit/SelectionOperations.h"
#include "edit/TakeEditorModel.h"
#include "ui/TimelineLayer.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>
#include <utility>

namespace reelbox::ui {

namespace {

// "Timeline", whose value is the playhead time in seconds.
class TimelineAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit TimelineAccessible(TimelineView* view)
        : QAccessibleWidget(view, QAccessible::Slider, QStringLiteral("Timeline")) {}

    TimelineView* view() const { return static_cast<TimelineView*>(widget()); }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value)
            return QString::number(view()->model().playhead(), 'f', 2);
        return QAccessibleWidget::text(t);
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QVariant currentValue() const override { return view()->model().playhead(); }
    void setCurrentValue(const QVariant& value) override { view()->model().seek(value.toDouble()); }
    QVariant maximumValue() const override { return view()->model().sourceDuration(); }
    QVariant minimumValue() const override { return 0.0; }
    QVariant minimumStepSize() const override { return 0.1; }
};

QAccessibleInterface* timelineAccessible(const QString& className, QObject* object) {
    if (className == QLatin1String("reelbox::ui::TimelineView") && object->isWidgetType())
        return new TimelineAccessible(static_cast<TimelineView*>(object));
    return nullptr;
}

} // namespace

TimelineView::TimelineView(TakeEditorModel& model, QWidget* parent)
    : QWidget(parent), m_model(model) {
    static const bool factory = [] {
        QAccessible::installFactory(timelineAccessible);
        return true;
    }();
    (void)factory;
    setAccessibleName(QStringLiteral("Timeline"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumWidth(200);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    for (auto signal :
         {&TakeEditorModel::takeChanged, &TakeEditorModel::sourceDurationChanged,
          &TakeEditorModel::mainDurationChanged, &TakeEditorModel::waveformsChanged,
          &TakeEditorModel::filmstripChanged, &TakeEditorModel::overdubFilmstripsChanged,
          &TakeEditorModel::selectionChanged})
        connect(&model, signal, this, &TimelineView::invalidateLayer);
    connect(&model, &TakeEditorModel::playheadChanged, this, &TimelineView::playheadMoved);
    m_playheadX = axis().x(model.playhead());
}

void TimelineView::setTimelineLayout(const TimelineLayout& layout) {
    if (layout == m_layout)
        return;
    m_layout = layout;
    setFixedHeight(int(std::ceil(layout.height)));
    updateGeometry();
    invalidateLayer();
}

TimeAxis TimelineView::axis() const {
    return {double(width()), m_model.sourceDuration()};
}

double TimelineView::playheadX() const {
    return m_playheadX;
}

QSize TimelineView::sizeHint() const {
    return {600, int(std::ceil(m_layout.height))};
}

QSize TimelineView::minimumSizeHint() const {
    return {200, int(std::ceil(m_layout.height))};
}

void TimelineView::invalidateLayer() {
    m_layerValid = false;
    update();
}

void TimelineView::buildLayer() {
    const qreal ratio = devicePixelRatioF();
    m_layer = QPixmap(size() * ratio);
    m_layer.setDevicePixelRatio(ratio);
    m_layer.fill(palette().color(QPalette::Window));
    QPainter painter(&m_layer);
    drawTimelineLayer(painter, m_model, m_layout, axis(), palette());
    m_layerValid = true;
    ++m_layerBuilds;
}

QRect TimelineView::playheadStrip(double x) const {
    return QRect(int(std::floor(x)) - 3, 0, 8, height());
}

void TimelineView::playheadMoved() {
    const double x = axis().x(m_model.playhead());
    if (x == m_playheadX)
        return;
    update(playheadStrip(m_playheadX));
    m_playheadX = x;
    update(playheadStrip(m_playheadX));
    QAccessibleValueChangeEvent event(this, m_model.playhead());
    QAccessible::updateAccessibility(&event);
}

void TimelineView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    m_playheadX = axis().x(m_model.playhead());
    m_layerValid = false;
}

void TimelineView::paintEvent(QPaintEvent* event) {
    if (!m_layerValid || m_layer.deviceIndependentSize().toSize() != size())
        buildLayer();
    QPainter painter(this);
    const QRect exposed = event->rect();
    const qreal ratio = m_layer.devicePixelRatio();
    painter.drawPixmap(exposed, m_layer,
                       QRectF(exposed.x() * ratio, exposed.y() * ratio, exposed.width() * ratio,
                              exposed.height() * ratio));
    m_playheadX = axis().x(m_model.playhead());
    painter.fillRect(QRectF(m_playheadX - 1.5, 0, 3.5, height()), QColor(0, 0, 0, 64));
    painter.fillRect(QRectF(m_playheadX - 1, 0, 2, height()), QColor(0xff3b30));
}

void TimelineView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF at = event->position();
    const EditState edit = m_model.take().info.edit;
    m_drag = Drag{dragKindAt(at, edit, axis()), at, edit, std::nullopt};
    dragTo(at); // a drag acts from where it starts
}

void TimelineView::mouseMoveEvent(QMouseEvent* event) {
    if (m_drag)
        dragTo(event->position());
}

void TimelineView::dragTo(const QPointF& point) {
    const double t = axis().time(point.x());
    if (m_drag->kind == DragKind::scrub) {
        m_model.seek(t);
        return;
    }
    m_drag->preview = trimPreview(m_drag->kind, m_drag->before, t, m_model.sourceDuration());
    m_model.previewEdit(*m_drag->preview);
}

void TimelineView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !m_drag)
        return;
    const Drag drag = *std::exchange(m_drag, std::nullopt);
    const QPointF at = event->position();
    if (drag.kind != DragKind::scrub) {
        if (drag.preview)
            m_model.commitEdit(*drag.preview, drag.before,
                               drag.kind == DragKind::trimStart ? actions::trimStart
                                                                : actions::trimEnd);
        return;
    }
    if (!isClick(at.x() - drag.start.x()))
        return;
    const double t = axis().time(at.x());
    const TimelineRow& row =
        m_layout.rows.empty() ? TimelineRow{} : m_layout.rows[m_layout.rowAt(at.y())];
    const bool extend = event->modifiers().testFlag(Qt::ShiftModifier);
    if (row.kind == TimelineRow::Kind::ruler)
        m_model.setSelection(selectTimeline(m_model.editingState(), t));
    else if (row.kind == TimelineRow::Kind::lane)
        m_model.setSelection(selectLane(m_model.editingState(), row.lane, t, extend));
}

} // namespace reelbox::ui
