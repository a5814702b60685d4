#include "ui/RecordButton.h"

#include "ui/Style.h"

#include <QPainter>
#include <QVariantAnimation>

namespace reelbox::ui {

RecordButton::RecordButton(QWidget* parent)
    : QAbstractButton(parent), m_shape(new QVariantAnimation(this)) {
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::NoFocus);
    m_shape->setDuration(200);
    m_shape->setEasingCurve(QEasingCurve::OutBack);
    m_shape->setStartValue(0.0);
    m_shape->setEndValue(0.0);
    connect(m_shape, &QVariantAnimation::valueChanged, this, [this] { update(); });
    setState(RecorderState::idle());
    setAccessibleName(QStringLiteral("Record"));
}

void RecordButton::setState(const RecorderState& state) {
    using Kind = RecorderState::Kind;
    const bool wasSquare = m_state.kind == Kind::countdown || m_state.kind == Kind::recording;
    m_state = state;
    const bool square = state.kind == Kind::countdown || state.kind == Kind::recording;
    QString name = QStringLiteral("Record"), help = QStringLiteral("Record (R)");
    if (state.kind == Kind::countdown) {
        name = QStringLiteral("Cancel countdown");
        help = QStringLiteral("Cancel countdown (R)");
    } else if (state.kind == Kind::recording) {
        name = QStringLiteral("Stop");
        help = QStringLiteral("Stop (R)");
    }
    setAccessibleName(name);
    setToolTip(help);
    setEnabled(state.kind != Kind::finishing);
    if (square != wasSquare) {
        const double from = m_shape->currentValue().toDouble();
        m_shape->stop();
        m_shape->setStartValue(from);
        m_shape->setEndValue(square ? 1.0 : 0.0);
        m_shape->start();
    }
    update();
}

void RecordButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (m_state.kind == RecorderState::Kind::finishing)
        painter.setOpacity(0.4);
    const QPointF centre = QRectF(rect()).center();
    QColor ring = palette().color(QPalette::WindowText);
    ring.setAlphaF(0.3f);
    painter.setPen(QPen(ring, 4));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, 36 - 2, 36 - 2); // 72 across, stroke 4 inside
    const double t = m_shape->currentValue().toDouble();
    const double side = 58 + (28 - 58) * t;
    const double radius = std::max(0.0, 29 + (6 - 29) * t);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(colors::recordRed));
    painter.drawRoundedRect(QRectF(centre.x() - side / 2, centre.y() - side / 2, side, side),
                            std::min(radius, side / 2), std::min(radius, side / 2));
}

} // namespace reelbox::ui
