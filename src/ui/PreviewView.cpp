#include "ui/PreviewView.h"

#include "edit/TakeEditorModel.h"
#include "play/Player.h"
#include "ui/FittedPicture.h"
#include "ui/PositionOverlay.h"

#include <QPainter>
#include <QProgressBar>

namespace reelbox::ui {

PreviewView::PreviewView(TakeEditorModel& model, QWidget* parent)
    : QWidget(parent), m_model(model), m_overlay(new PositionOverlay(model, this)),
      m_rendering(new QProgressBar(this)) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 180);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_rendering->setRange(0, 0); // busy
    m_rendering->setTextVisible(false);
    m_rendering->setFixedSize(64, 8);
    m_rendering->setAccessibleName(QStringLiteral("Updating preview…"));
    m_rendering->setToolTip(QStringLiteral("Updating preview…"));
    connect(model.player(), &Player::framePresented, this, [this](const QImage& image, double) {
        m_frame = image;
        update();
    });
    connect(&model, &TakeEditorModel::freezeFrameChanged, this, qOverload<>(&QWidget::update));
    connect(&model, &TakeEditorModel::isRenderingChanged, this, &PreviewView::showRendering);
    showRendering();
}

void PreviewView::showRendering() {
    m_rendering->setVisible(m_model.isRendering());
}

void PreviewView::resizeEvent(QResizeEvent*) {
    m_overlay->setGeometry(rect());
    m_rendering->move(width() - m_rendering->width() - 12, 12);
}

void PreviewView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    drawFittedPicture(painter, size(), m_frame, m_frame);
    // The still stands where the moving picture stands.
    if (const auto& freeze = m_model.freezeFrame())
        drawFittedPicture(painter, size(), *freeze, m_frame);
}

} // namespace reelbox::ui
