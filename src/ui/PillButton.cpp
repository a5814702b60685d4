#include "ui/PillButton.h"

#include "ui/Icons.h"

#include <QPainter>

namespace reelbox::ui {

PillButton::PillButton(const QString& icon, QColor onColor, QColor onText, QWidget* parent)
    : QAbstractButton(parent), m_icon(icon), m_onColor(onColor), m_onText(onText) {
    setFixedSize(sizeHint());
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QAbstractButton::toggled, this, [this] { update(); });
}

void PillButton::setLit(bool lit) {
    if (m_lit == lit)
        return;
    m_lit = lit;
    update();
}

void PillButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF capsule = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QColor fill = m_onColor;
    QColor symbol = m_onText;
    if (!isOn()) {
        fill = palette().color(QPalette::WindowText);
        fill.setAlphaF(isDown() ? 0.2f : 0.1f);
        symbol = palette().color(QPalette::WindowText);
        symbol.setAlphaF(0.75f);
    }
    if (!isEnabled())
        painter.setOpacity(0.4);
    painter.setPen(hasFocus() ? QPen(palette().color(QPalette::Highlight), 1) : Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(capsule, capsule.height() / 2, capsule.height() / 2);
    const int side = 13;
    const QPixmap pixmap = tintedPixmap(m_icon, symbol, side, devicePixelRatioF());
    painter.drawPixmap(QPointF((width() - side) / 2.0, (height() - side) / 2.0), pixmap);
}

} // namespace reelbox::ui
