#pragma once

#include "capture/RecorderModel.h"

#include <QLabel>
#include <QTimer>

namespace reelbox::ui {

// Under the record button: "Press R to record", "Get ready…", the elapsed time in red while
// recording, nothing while finishing; redrawn every 0.25 s. Its accessible name is its text.
class RecordingTime : public QLabel {
    Q_OBJECT
public:
    explicit RecordingTime(QWidget* parent = nullptr);
    void setState(const RecorderState& state);

private:
    void refresh();

    RecorderState m_state;
    QTimer m_tick;
};

} // namespace reelbox::ui
