#pragma once

#include "ui/PanelCard.h"

namespace reelbox {
class DeviceManager;
class RecorderModel;
} // namespace reelbox

namespace reelbox::ui {

class DevicePicker;
class InputRows;

// "Audio": the microphone picker and one row per input.
class AudioCard : public PanelCard {
    Q_OBJECT
public:
    AudioCard(RecorderModel& recorder, DeviceManager& devices, QWidget* parent = nullptr);
    InputRows& inputs() const { return *m_inputs; }

private:
    void showMicrophones();

    RecorderModel& m_recorder;
    DeviceManager& m_devices;
    DevicePicker* m_device;
    InputRows* m_inputs;
};

} // namespace reelbox::ui
