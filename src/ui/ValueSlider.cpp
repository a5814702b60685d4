#include "ui/ValueSlider.h"

#include "ui/MixerText.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

namespace reelbox::ui {

ValueSlider::ValueSlider(ValueRange range, bool logarithmic, QWidget* parent)
    : QSlider(Qt::Horizontal, parent), m_range(range), m_logarithmic(logarithmic),
      m_value(range.lower) {
    installValueAccessibility();
    QSlider::setRange(0, steps);
    setSingleStep(steps / 100);
    setPageStep(steps / 10);
    setFocusPolicy(Qt::StrongFocus);
    connect(this, &QSlider::valueChanged, this, &ValueSlider::stepChanged);
    connect(this, &QSlider::sliderReleased, this, [this] {
        if (const std::optional<double> draft = std::exchange(m_draft, std::nullopt))
            commit(*draft);
    });
    showStep(m_value);
}

void ValueSlider::setValue(double value) {
    m_value = value;
    if (m_draft)
        return; // the drag's value stays until it ends
    showStep(value);
    emit shownValueChanged(value);
}

void ValueSlider::showStep(double value) {
    m_showing = true;
    QSlider::setValue(sliderStep(value, m_range, m_logarithmic, steps));
    m_showing = false;
}

void ValueSlider::stepChanged(int step) {
    if (m_showing)
        return;
    const double value = valueAtStep(step, m_range, m_logarithmic, steps);
    if (isSliderDown()) {
        m_draft = value;
        emit shownValueChanged(value);
        announceValueChange(this, value);
        return;
    }
    commit(value);
}

void ValueSlider::commit(double value) {
    m_value = value;
    emit shownValueChanged(value);
    announceValueChange(this, value);
    emit committed(value);
}

QRect ValueSlider::handleRect() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

double ValueSlider::accessibleStep() const {
    return (m_range.upper - m_range.lower) / 100;
}

QString ValueSlider::accessibleValueText() const {
    return sliderReadout(shownValue(), m_unit);
}

void ValueSlider::setAccessibleValue(double value) {
    value = std::clamp(value, m_range.lower, m_range.upper);
    showStep(value);
    commit(value);
}

void ValueSlider::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!m_default || event->button() != Qt::LeftButton) {
        QSlider::mouseDoubleClickEvent(event);
        return;
    }
    event->accept();
    m_draft.reset();
    setSliderDown(false);
    showStep(*m_default);
    commit(*m_default);
}

} // namespace reelbox::ui
