#pragma once

#include <QFrame>

class QLabel;
class QPushButton;
class QSlider;

namespace reelbox {
class OverdubModel;
}

namespace reelbox::ui {

// Where in the take an overdub starts: "Starts at", the start time, a slider over the start
// range (the take is cued where it is released) and "Beginning". Only while the overdub is
// idle.
class StartBar : public QFrame {
    Q_OBJECT
public:
    explicit StartBar(OverdubModel& model, QWidget* parent = nullptr);

    QSlider& slider() const { return *m_slider; }
    QLabel& timeLabel() const { return *m_time; }

private:
    void showStart();
    void showState();

    OverdubModel& m_model;
    QLabel* m_time;
    QSlider* m_slider;
    QPushButton* m_beginning;
};

} // namespace reelbox::ui
