#include "ui/LabeledSlider.h"

#include "ui/MixerStyle.h"
#include "ui/MixerText.h"
#include "ui/ValueSlider.h"

#include <QHBoxLayout>
#include <QLabel>

namespace reelbox::ui {

LabeledSlider::LabeledSlider(const QString& title, ValueRange range, double defaultValue,
                             const QString& unit, bool logarithmic, QWidget* parent)
    : QWidget(parent), m_slider(new ValueSlider(range, logarithmic, this)),
      m_readout(new QLabel(this)), m_unit(unit) {
    auto* label = new QLabel(title, this);
    label->setBuddy(m_slider);
    label->setMinimumWidth(64); // the sliders of a stack line up
    m_slider->setAccessibleName(title);
    m_slider->setToolTip(QStringLiteral("Double-click to reset"));
    m_slider->setDefaultValue(defaultValue);
    m_slider->setUnit(unit);
    m_readout->setFixedWidth(52);
    m_readout->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_readout->setFont(mixerFont(TextStyle::monospacedCaption, font()));
    setSecondary(m_readout);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(label);
    row->addWidget(m_slider, 1);
    row->addWidget(m_readout);

    connect(m_slider, &ValueSlider::shownValueChanged, this,
            [this](double shown) { m_readout->setText(sliderReadout(shown, m_unit)); });
    connect(m_slider, &ValueSlider::committed, this, &LabeledSlider::committed);
    setValue(defaultValue);
}

void LabeledSlider::setValue(double value) {
    m_slider->setValue(value);
}

double LabeledSlider::value() const {
    return m_slider->value();
}

std::optional<double> LabeledSlider::draft() const {
    return m_slider->draft();
}

QString LabeledSlider::readout() const {
    return m_readout->text();
}

} // namespace reelbox::ui
