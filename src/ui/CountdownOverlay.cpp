#include "ui/CountdownOverlay.h"

#include <QVariantAnimation>

namespace reelbox::ui {

namespace {
constexpr int fontSize = 160;
}

CountdownOverlay::CountdownOverlay(QWidget* parent)
    : QLabel(parent), m_spring(new QVariantAnimation(this)) {
    setAlignment(Qt::AlignCenter);
    setStyleSheet(QStringLiteral("background: rgba(0, 0, 0, 84); color: white;"));
    QFont font = this->font();
    font.setPixelSize(fontSize);
    font.setBold(true);
    setFont(font);
    m_spring->setDuration(500);
    m_spring->setEasingCurve(QEasingCurve::OutBack);
    m_spring->setStartValue(0.7);
    m_spring->setEndValue(1.0);
    connect(m_spring, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        QFont f = this->font();
        f.setPixelSize(qMax(1, int(fontSize * v.toDouble())));
        setFont(f);
    });
}

void CountdownOverlay::setNumber(int n) {
    const QString text = QString::number(n);
    if (text == this->text())
        return;
    setText(text);
    setAccessibleName(text);
    m_spring->stop();
    m_spring->start();
}

} // namespace reelbox::ui
