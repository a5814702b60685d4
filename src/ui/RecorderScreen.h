#pragma once

#include "model/Take.h"

#include <QWidget>

class QMessageBox;

namespace reelbox {
class DeviceManager;
class RecorderModel;
class TakeLibrary;
} // namespace reelbox

namespace reelbox::ui {

class CameraView;
class CountdownOverlay;
class KeyMonitor;
class RecorderBar;

// The detail view of "New Recording": the live picture (or "No Camera", the permission hint),
// the countdown over it and the recorder bar. R or Space (without Ctrl, Alt or Meta) is the
// record action while it is shown; a recording problem shows as "Recording Problem".
class RecorderScreen : public QWidget {
    Q_OBJECT
public:
    RecorderScreen(RecorderModel& recorder, DeviceManager& devices, TakeLibrary& library,
                   QWidget* parent = nullptr);

    // The screen is shown: the recorder starts its session and meters.
    void activate();
    void record();

    CameraView& camera() const { return *m_camera; }
    RecorderBar& bar() const { return *m_bar; }
    KeyMonitor& keys() const { return *m_keys; }

signals:
    // A recording was saved as this take.
    void finished(const reelbox::Take& take);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showStage();
    void showError();

    RecorderModel& m_recorder;
    DeviceManager& m_devices;
    TakeLibrary& m_library;
    CameraView* m_camera;
    QWidget* m_noCamera;
    QWidget* m_permission;
    CountdownOverlay* m_countdown;
    RecorderBar* m_bar;
    KeyMonitor* m_keys;
    QMessageBox* m_problem = nullptr;
};

} // namespace reelbox::ui
