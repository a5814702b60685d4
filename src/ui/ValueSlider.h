#pragma once

#include "ui/MixerMath.h"
#include "ui/ValueAccessible.h"

#include <QSlider>
#include <optional>

namespace reelbox::ui {

// A horizontal slider over a range of doubles (linear or logarithmic) that writes only when a
// change is finished: while the knob is dragged `draft` holds the value and `committed` comes
// at the release; a click, a key or an assistant commits at once. With a default value, a
// double-click resets to it. Screen readers read the real value and its readout.
class ValueSlider : public QSlider, public ValueControl {
    Q_OBJECT
public:
    ValueSlider(ValueRange range, bool logarithmic, QWidget* parent = nullptr);

    // The value the model holds; shown unless a drag is under way.
    void setValue(double value);
    double value() const { return m_value; }
    // The value while the knob is being dragged.
    std::optional<double> draft() const { return m_draft; }
    // What is shown: the draft while dragging, else the value.
    double shownValue() const { return m_draft.value_or(m_value); }
    void setDefaultValue(std::optional<double> value) { m_default = value; }
    // The unit its readout and its accessible value text are in ("dB", "Hz", "%", "ms").
    void setUnit(const QString& unit) { m_unit = unit; }
    ValueRange range() const { return m_range; }
    // Where the knob is drawn now.
    QRect handleRect() const;

    double accessibleValue() const override { return shownValue(); }
    double accessibleMinimum() const override { return m_range.lower; }
    double accessibleMaximum() const override { return m_range.upper; }
    double accessibleStep() const override;
    QString accessibleValueText() const override;
    void setAccessibleValue(double value) override;
    QAccessible::Role accessibleRole() const override { return QAccessible::Slider; }

    static constexpr int steps = 1000;

signals:
    // The shown value changed (a drag moved, or the model's value arrived).
    void shownValueChanged(double value);
    // A finished change to write.
    void committed(double value);

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void showStep(double value);
    void stepChanged(int step);
    void commit(double value);

    ValueRange m_range;
    bool m_logarithmic;
    double m_value;
    std::optional<double> m_draft;
    std::optional<double> m_default;
    QString m_unit;
    bool m_showing = false; // the step is being set from the value, not by the user
};

} // namespace reelbox::ui
