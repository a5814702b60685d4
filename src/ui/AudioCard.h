#pragma once

#include "ui/PanelCard.h"

namespace reelbox {
class RecorderModel;
}

namespace reelbox::ui {

class DevicePicker;
class InputRows;

// "Audio": the microphone picker and one row per input.
class AudioCard : public PanelCard {
    Q_OBJECT
public:
    explicit AudioCard(RecorderModel& recorder, QWidget* parent = nullptr);
    InputRows& inputs() const { return *m_inputs; }

private:
    void showMicrophones();

    RecorderModel& m_recorder;
    DevicePicker* m_device;
    InputRows* m_inputs;
};

} // namespace reelbox::ui
