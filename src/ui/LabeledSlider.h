#pragma once

#include "ui/MixerMath.h"

#include <QWidget>
#include <optional>

class QLabel;

namespace reelbox::ui {

class ValueSlider;

// A labelled row: the title, the slider and a readout 52 wide in the slider's unit. It writes
// (`committed`) only when a drag ends; a double-click on the slider resets it to its default.
class LabeledSlider : public QWidget {
    Q_OBJECT
public:
    LabeledSlider(const QString& title, ValueRange range, double defaultValue, const QString& unit,
                  bool logarithmic = false, QWidget* parent = nullptr);

    // The model's value.
    void setValue(double value);
    double value() const;
    std::optional<double> draft() const;
    QString readout() const;
    ValueSlider* slider() const { return m_slider; }

signals:
    void committed(double value);

private:
    ValueSlider* m_slider;
    QLabel* m_readout;
    QString m_unit;
};

} // namespace reelbox::ui
