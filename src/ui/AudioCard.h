#pragma once

#include "ui/PanelCard.h"

namespace reelbox {
class DeviceManager;
class InputMonitor;
class RecorderModel;
} // namespace reelbox

namespace reelbox::ui {

class DevicePicker;
class InputRows;

// "Audio": the microphone picker and one row per input.
class AudioCard : public PanelCard {
    Q_OBJECT
public:
    // The recorder's inputs; the picker is locked unless the recorder is idle.
    AudioCard(RecorderModel& recorder, DeviceManager& devices, QWidget* parent = nullptr);
    // Any model's inputs; its owner locks the picker.
    AudioCard(InputMonitor& inputs, DeviceManager& devices, QWidget* parent = nullptr);
    InputRows& inputs() const { return *m_inputs; }
    void setPickerEnabled(bool enabled);

private:
    void showMicrophones();

    DeviceManager& m_devices;
    DevicePicker* m_device;
    InputRows* m_inputs;
};

} // namespace reelbox::ui
