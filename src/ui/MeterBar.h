#pragma once

#include <QProgressBar>

namespace reelbox::ui {

// One input's level meter, 8 high: the average level fills from the left under a gradient
// spanning the whole width, the peak is a 2-wide mark (red above −1 dBFS). Its accessible
// value is the average level in whole dBFS.
class MeterBar : public QProgressBar {
    Q_OBJECT
public:
    explicit MeterBar(QWidget* parent = nullptr);

    void setLevel(float averageDb, float peakDb);
    float average() const { return m_average; }
    float peak() const { return m_peak; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    float m_average = -160.0f;
    float m_peak = -160.0f;
};

} // namespace reelbox::ui
