#include "ui/CameraView.h"

#include "capture/CameraPreview.h"

#include <QPainter>

namespace reelbox::ui {

CameraView::CameraView(CameraPreview& preview, QWidget* parent)
    : QWidget(parent), m_preview(preview) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAccessibleName(QStringLiteral("Camera preview"));
    connect(&preview, &CameraPreview::frameReady, this, [this](const QImage& image) {
        m_frame = image;
        update();
    });
}

void CameraView::setMirrored(bool mirrored) {
    if (mirrored == m_mirrored)
        return;
    m_mirrored = mirrored;
    update();
}

void CameraView::askForFrames() {
    m_preview.setTargetSize(isVisible() ? size() * devicePixelRatioF() : QSize());
}

void CameraView::resizeEvent(QResizeEvent*) {
    askForFrames();
}

void CameraView::showEvent(QShowEvent*) {
    askForFrames();
}

void CameraView::hideEvent(QHideEvent*) {
    m_preview.setTargetSize({});
    m_frame = {};
}

void CameraView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (m_frame.isNull())
        return;
    const qreal ratio = devicePixelRatioF();
    QImage frame = m_frame;
    frame.setDevicePixelRatio(ratio);
    const QSizeF shown = QSizeF(frame.size()) / ratio;
    const QPointF at((width() - shown.width()) / 2, (height() - shown.height()) / 2);
    if (m_mirrored) {
        painter.translate(width(), 0);
        painter.scale(-1, 1);
    }
    painter.drawImage(at, frame);
}

} // namespace reelbox::ui
