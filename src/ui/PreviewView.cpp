#include "ui/PreviewView.h"

#include "edit/TakeEditorModel.h"
#include "play/Player.h"
#include "ui/PositionOverlay.h"
#include "ui/PreviewGeometry.h"

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
    // Pictures come at (nearly) the size they are shown; no smoothing at paint time.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    const auto draw = [&](const QImage& image) {
        if (image.isNull())
            return;
        const ViewFit fit = fitInto({double(image.width()), double(image.height())},
                                    {double(width()), double(height())});
        const RectD r = fit.map({0, 0, double(image.width()), double(image.height())});
        painter.drawImage(QRectF(r.x, r.y, r.width, r.height), image);
    };
    draw(m_frame);
    if (const auto& freeze = m_model.freezeFrame()) {
        // The still stands where the moving picture stands.
        if (!m_frame.isNull() && !freeze->isNull()) {
            const ViewFit fit = fitInto({double(m_frame.width()), double(m_frame.height())},
                                        {double(width()), double(height())});
            const RectD r = fit.map({0, 0, double(m_frame.width()), double(m_frame.height())});
            painter.drawImage(QRectF(r.x, r.y, r.width, r.height), *freeze);
        } else {
            draw(*freeze);
        }
    }
}

} // namespace reelbox::ui
