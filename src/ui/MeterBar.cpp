#include "ui/MeterBar.h"

#include "ui/MeterScale.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace reelbox::ui {

namespace {
constexpr int meterHeight = 8;
constexpr float floorDb = -160.0f;
} // namespace

MeterBar::MeterBar(QWidget* parent) : QProgressBar(parent) {
    setRange(int(floorDb), 0);
    setValue(int(floorDb));
    setTextVisible(false);
    setFixedHeight(meterHeight);
    setMinimumWidth(120);
}

void MeterBar::setLevel(float averageDb, float peakDb) {
    if (averageDb == m_average && peakDb == m_peak)
        return;
    m_average = averageDb;
    m_peak = peakDb;
    setValue(std::isfinite(averageDb) ? std::clamp(int(std::lround(averageDb)), int(floorDb), 0)
                                      : int(floorDb));
    update();
}

void MeterBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = rect();
    const qreal radius = area.height() / 2;
    QPainterPath track;
    track.addRoundedRect(area, radius, radius);
    painter.fillPath(track, QColor(255, 255, 255, 30));
    const double fill = meterFraction(m_average) * area.width();
    if (fill > 0) {
        QLinearGradient gradient(area.topLeft(), area.topRight());
        gradient.setStops(meterStops());
        painter.save();
        painter.setClipRect(QRectF(area.left(), area.top(), fill, area.height()));
        painter.fillPath(track, gradient);
        painter.restore();
    }
    const double x = std::max(0.0, meterFraction(m_peak) * area.width() - 2);
    QColor mark = peakIsHot(m_peak) ? QColor(0xff3b30) : palette().color(QPalette::WindowText);
    if (!peakIsHot(m_peak))
        mark.setAlphaF(0.7f);
    if (m_peak > -60.0f)
        painter.fillRect(QRectF(area.left() + x, area.top(), 2, area.height()), mark);
}

} // namespace reelbox::ui
