#include "ui/SwitchSection.h"

#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>

namespace reelbox::ui {

SwitchSection::SwitchSection(const QString& title, bool switchable, Look look, QWidget* parent)
    : QWidget(parent), m_look(look), m_content(new QWidget(this)),
      m_items(new QVBoxLayout(m_content)), m_fade(new QGraphicsOpacityEffect(m_content)) {
    auto* heading = new QLabel(title, this);
    heading->setFont(mixerFont(look.title, font()));
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->addWidget(heading);
    top->addStretch(1);
    if (switchable) {
        m_switch = new QCheckBox(this);
        m_switch->setAccessibleName(title);
        top->addWidget(m_switch);
        connect(m_switch, &QCheckBox::clicked, this, [this](bool on) {
            setOn(on);
            emit switched(on);
        });
    }
    m_items->setContentsMargins(0, 0, 0, 0);
    m_items->setSpacing(look.spacing);
    m_content->setGraphicsEffect(m_fade);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(look.spacing);
    stack->addLayout(top);
    stack->addWidget(m_content);
    showOn();
}

void SwitchSection::addWidget(QWidget* widget) {
    m_items->addWidget(widget);
}

void SwitchSection::setOn(bool on) {
    if (!m_switch)
        return;
    m_on = on;
    showOn();
}

void SwitchSection::showOn() {
    if (m_switch)
        m_switch->setChecked(m_on);
    m_content->setEnabled(m_on);
    m_fade->setOpacity(m_on ? 1.0 : m_look.offOpacity);
}

} // namespace reelbox::ui
