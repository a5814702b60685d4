#include "ui/ClipLight.h"

#include "ui/Style.h"

#include <QPainter>

namespace reelbox::ui {

ClipLight::ClipLight(QWidget* parent) : QAbstractButton(parent) {
    setAccessibleName(QStringLiteral("Clip indicator"));
    setToolTip(QStringLiteral(
        "This input clipped: turn the gain down on your interface. Click to reset."));
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(sizeHint());
}

void ClipLight::setOn(bool on) {
    if (on == m_on)
        return;
    m_on = on;
    update();
}

void ClipLight::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_on ? QColor(colors::recordRed) : QColor(255, 255, 255, 40));
    painter.drawEllipse(QRectF(rect()).adjusted(3, 3, -3, -3));
}

} // namespace reelbox::ui
