#include "ui/PanKnob.h"

#include "ui/MixerMath.h"
#include "ui/MixerStyle.h"
#include "ui/MixerText.h"
#include "ui/Style.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QtMath>

#include <algorithm>

namespace reelbox::ui {

namespace {
constexpr int dialSide = 22;
constexpr int labelWidth = 24;

QFont labelFont(const QFont& base) {
    QFont font = mixerFont(TextStyle::monospacedCaption, base);
    font.setWeight(QFont::DemiBold);
    return font;
}
} // namespace

PanKnob::PanKnob(QWidget* parent) : QWidget(parent) {
    installValueAccessibility();
    setFocusPolicy(Qt::StrongFocus);
    setFixedSize(sizeHint());
    setAccessibleName(QStringLiteral("Pan"));
    setToolTip(QStringLiteral("Left/right position: drag to turn, double-click to center"));
}

QSize PanKnob::sizeHint() const {
    return {labelWidth, dialSide + 2 + QFontMetrics(labelFont(font())).height()};
}

void PanKnob::setPan(double pan) {
    if (m_pan == pan)
        return;
    m_pan = pan;
    if (!m_draft)
        update();
}

QString PanKnob::accessibleValueText() const {
    return panLabel(shownPan());
}

void PanKnob::setAccessibleValue(double value) {
    commit(std::clamp(value, -1.0, 1.0));
}

void PanKnob::commit(double pan) {
    m_draft.reset();
    m_pan = pan;
    update();
    announceValueChange(this, pan);
    emit committed(pan);
}

void PanKnob::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_pressAt = event->position();
    m_dragStart = m_pan;
}

void PanKnob::mouseMoveEvent(QMouseEvent* event) {
    if (!m_pressAt || !(event->buttons() & Qt::LeftButton))
        return;
    const QPointF moved = event->position() - *m_pressAt;
    if (!m_draft && std::max(std::abs(moved.x()), std::abs(moved.y())) < 1)
        return; // the drag's minimum distance
    m_draft = panAfterDrag(*m_dragStart, moved.x(), moved.y());
    update();
    announceValueChange(this, *m_draft);
}

void PanKnob::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_pressAt.reset();
    m_dragStart.reset();
    if (const std::optional<double> draft = m_draft)
        commit(*draft);
}

void PanKnob::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    m_pressAt.reset();
    m_dragStart.reset();
    commit(0);
}

void PanKnob::keyPressEvent(QKeyEvent* event) {
    double step = 0;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        step = -0.05;
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        step = 0.05;
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    commit(std::clamp(std::round((m_pan + step) * 100) / 100, -1.0, 1.0));
}

void PanKnob::paintEvent(QPaintEvent*) {
    const double pan = shownPan();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor primary = palette().color(QPalette::WindowText);
    const QRectF dial((width() - dialSide) / 2.0, 0, dialSide, dialSide);
    const QRectF ring = dial.adjusted(1.5, 1.5, -1.5, -1.5);

    QColor track = primary;
    track.setAlphaF(0.08f);
    painter.setPen(QPen(track, 3));
    painter.drawEllipse(ring);

    // The value arc runs from the top, clockwise for right (Qt's angles run anticlockwise, in
    // 1/16 degree); at the centre there is none and the indicator is drawn in the text colour.
    QColor indicator = accentColor(this);
    if (panLabel(pan) == QLatin1String("C")) {
        indicator = primary;
        indicator.setAlphaF(0.7f);
    } else {
        painter.setPen(QPen(indicator, 3, Qt::SolidLine, Qt::FlatCap));
        painter.drawArc(ring, 90 * 16, -qRound(panAngleDegrees(pan) * 16));
    }

    painter.save();
    painter.translate(dial.center());
    painter.rotate(panAngleDegrees(pan));
    painter.setPen(QPen(indicator, 2.5, Qt::SolidLine, Qt::RoundCap));
    const double outer = dialSide / 2.0 - 3;
    painter.drawLine(QPointF(0, -outer), QPointF(0, -outer + 7));
    painter.restore();

    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(dial.adjusted(0.5, 0.5, -0.5, -0.5));
    }

    painter.setFont(labelFont(font()));
    painter.setPen(QColor(colors::secondaryText));
    painter.drawText(QRectF(0, dialSide + 2, width(), height() - dialSide - 2),
                     Qt::AlignHCenter | Qt::AlignTop, panLabel(pan));
}

} // namespace reelbox::ui
