#include "ui/RackButton.h"

#include "ui/Icons.h"
#include "ui/MixerStyle.h"
#include "ui/MixerText.h"
#include "ui/Popover.h"
#include "ui/SwitchSection.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QToolButton>
#include <QVariantAnimation>

namespace reelbox::ui {

RackButton::RackButton(const QString& title, const QString& icon, bool switchable, QWidget* parent)
    : QWidget(parent), m_title(title), m_label(new QToolButton(this)),
      m_popover(new Popover(300, this)),
      m_body(new SwitchSection(title, switchable, {TextStyle::headline, 12, 0.5}, m_popover)),
      m_background(new QVariantAnimation(this)) {
    const QColor text = palette().color(QPalette::ButtonText);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 0, 8, 0);
    row->setSpacing(4);
    if (switchable) {
        m_power = new QToolButton(this);
        m_power->setCheckable(true);
        m_power->setAutoRaise(true);
        m_power->setFixedSize(28, 32);
        m_power->setIcon(tintedIcon(QStringLiteral("system-shutdown"), text));
        m_power->setIconSize(QSize(10, 10));
        connect(m_power, &QToolButton::clicked, this, &RackButton::flip);
        row->addWidget(m_power);
    }
    m_label->setText(title);
    m_label->setIcon(tintedIcon(icon, text));
    m_label->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_label->setAutoRaise(true);
    m_label->setFont(mixerFont(TextStyle::callout, font()));
    m_label->setAccessibleName(title);
    m_label->setMinimumHeight(32);
    connect(m_label, &QToolButton::clicked, this, &RackButton::openPopover);
    row->addWidget(m_label);

    auto* frame = new QVBoxLayout(m_popover);
    frame->setContentsMargins(16, 16, 16, 16);
    frame->addWidget(m_body);
    connect(m_body, &SwitchSection::switched, this, &RackButton::flip);

    m_background->setDuration(120);
    m_background->setEasingCurve(QEasingCurve::OutCubic);
    connect(m_background, &QVariantAnimation::valueChanged, this, [this] { update(); });
    showLit(false);
}

void RackButton::setOn(bool on) {
    if (!m_power || m_on == on)
        return;
    m_on = on;
    showLit(true);
}

void RackButton::flip(bool on) {
    setOn(on);
    emit switched(on);
}

void RackButton::openPopover() {
    m_popover->toggleUnder(this);
}

void RackButton::showLit(bool animated) {
    const QString help = rackHelp(m_title, !isLit());
    m_label->setToolTip(help);
    if (m_power) {
        m_power->setChecked(m_on);
        m_power->setToolTip(help);
        m_power->setAccessibleName(
            (m_on ? QStringLiteral("Turn off ") : QStringLiteral("Turn on ")) + m_title);
    }
    m_body->setOn(m_on);
    const QColor target(isLit() ? mixerColors::rackLit : mixerColors::rackDark);
    const QVariant from =
        m_background->currentValue().isValid() ? m_background->currentValue() : QVariant(target);
    m_background->stop();
    m_background->setStartValue(animated ? from : QVariant(target));
    m_background->setEndValue(target);
    m_background->start();
}

void RackButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_background->currentValue().value<QColor>());
    painter.drawRoundedRect(QRectF(rect()), 8, 8);
}

} // namespace reelbox::ui
