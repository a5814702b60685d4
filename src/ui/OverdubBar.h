#pragma once

#include <QFrame>

class QCheckBox;
class QToolButton;

namespace reelbox {
class DeviceManager;
class OverdubModel;
} // namespace reelbox

namespace reelbox::ui {

class AudioCard;
class DevicePicker;
class ListenCard;
class PanelCard;
class RecordButton;
class RecordingTime;
class SoundVideoChoice;

// The overdub's bottom bar, left to right: "Record" (sound, or video too), "Camera" (its picker
// and "Mirror", while video is recorded), the practice button, "Audio" (the microphone and its
// inputs), "Listen on", and the record button over the time readout. Choices are locked unless
// the overdub is idle.
class OverdubBar : public QFrame {
    Q_OBJECT
public:
    OverdubBar(OverdubModel& model, DeviceManager& devices, QWidget* parent = nullptr);

    RecordButton& recordButton() const { return *m_record; }
    QToolButton& practiceButton() const { return *m_practice; }
    SoundVideoChoice& choice() const { return *m_choice; }
    PanelCard& cameraCard() const { return *m_camera; }
    ListenCard& listen() const { return *m_listen; }

signals:
    void recordPressed();

private:
    PanelCard* makeCameraCard();
    void showCameras();
    void showChoices();
    void showState();

    OverdubModel& m_model;
    DeviceManager& m_devices;
    SoundVideoChoice* m_choice;
    DevicePicker* m_cameraPicker;
    QCheckBox* m_mirror;
    PanelCard* m_camera;
    QToolButton* m_practice;
    AudioCard* m_audio;
    ListenCard* m_listen;
    RecordButton* m_record;
    RecordingTime* m_time;
};

} // namespace reelbox::ui
