#include "ui/PlayerPictureView.h"

#include "play/Player.h"
#include "ui/FittedPicture.h"

#include <QPainter>

namespace reelbox::ui {

PlayerPictureView::PlayerPictureView(Player& player, QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("Take picture"));
    connect(&player, &Player::framePresented, this, [this](const QImage& image) {
        m_frame = image;
        update();
    });
    connect(&player, &Player::statusChanged, this, [this](Player::Status status) {
        if (status == Player::Status::empty && !m_frame.isNull()) {
            m_frame = {};
            update();
        }
    });
}

void PlayerPictureView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    drawFittedPicture(painter, size(), m_frame, m_frame);
}

} // namespace reelbox::ui
