#pragma once

#include <QAccessible>
#include <QString>

class QWidget;

namespace reelbox::ui {

// A control that shows one number (a slider in dB, a pan knob): screen readers read its real
// value, its range and its readout, and can set it.
class ValueControl {
public:
    virtual ~ValueControl() = default;
    virtual double accessibleValue() const = 0;
    virtual double accessibleMinimum() const = 0;
    virtual double accessibleMaximum() const = 0;
    virtual double accessibleStep() const = 0;
    // The value as the control's readout shows it.
    virtual QString accessibleValueText() const = 0;
    // Sets and writes the value, as a finished drag does.
    virtual void setAccessibleValue(double value) = 0;
    virtual QAccessible::Role accessibleRole() const = 0;
};

// Makes the accessibility of every widget that is a ValueControl come from it; call before
// such a widget is first queried (their constructors do).
void installValueAccessibility();

// Tells assistive technology that `control`'s value changed.
void announceValueChange(QWidget* control, double value);

} // namespace reelbox::ui
