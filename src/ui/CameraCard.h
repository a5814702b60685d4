#pragma once

#include "ui/PanelCard.h"

class QCheckBox;
class QComboBox;

namespace reelbox {
class DeviceManager;
class RecorderModel;
} // namespace reelbox

namespace reelbox::ui {

class DevicePicker;

// "Camera": the camera picker, "Countdown" (Off, 3, 5, 10 seconds) and "Mirror" (the
// preview only); the format readout as its detail line. Devices and countdown are locked
// unless the recorder is idle.
class CameraCard : public PanelCard {
    Q_OBJECT
public:
    CameraCard(RecorderModel& recorder, DeviceManager& devices, QWidget* parent = nullptr);

private:
    void showCameras();
    void showState();

    RecorderModel& m_recorder;
    DeviceManager& m_devices;
    DevicePicker* m_device;
    QComboBox* m_countdown;
    QCheckBox* m_mirror;
};

} // namespace reelbox::ui
