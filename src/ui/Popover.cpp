#include "ui/Popover.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

namespace reelbox::ui {

Popover::Popover(int width, QWidget* parent) : QFrame(parent, Qt::Popup | Qt::FramelessWindowHint) {
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(width);
}

void Popover::toggleUnder(QWidget* anchor) {
    if (isVisible())
        hide();
    else
        showUnder(anchor);
}

void Popover::showUnder(QWidget* anchor) {
    adjustSize();
    QPoint at = anchor->mapToGlobal(QPoint(0, anchor->height() + 4));
    if (const QScreen* screen = anchor->screen()) {
        const QRect area = screen->availableGeometry();
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() - width())));
        if (at.y() + height() > area.bottom()) // no room below: above the anchor
            at.setY(anchor->mapToGlobal(QPoint(0, 0)).y() - height() - 4);
    }
    move(at);
    show();
}

void Popover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    emit closed();
}

} // namespace reelbox::ui
