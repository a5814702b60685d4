#pragma once

#include "capture/AudioOutputDevices.h"
#include "capture/CaptureEngine.h"
#include "capture/Countdown.h"
#include "capture/DeviceManager.h"
#include "capture/InputMonitor.h"
#include "capture/RecorderModel.h"
#include "model/Overdub.h"
#include "model/Track.h"
#include "platform/sound/LevelMeter.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace reelbox {

class CameraPreview;
class Player;
class SoundSystem;
class TakeEditorModel;
namespace TakeComposer {
struct Result;
}

// Records an overdub: the open take plays from the start time through the chosen output while
// the camera and the microphone are recorded, both started at one host-clock instant; the
// finished recording is placed where the take stood when its first sample was taken and added
// to the take with one track per ticked input.
// Threads: call it on the main thread only; its signals arrive on the main thread.
class OverdubModel : public QObject {
    Q_OBJECT
public:
    struct Range {
        double lower = 0;
        double upper = 0;
        bool operator==(const Range&) const = default;
    };

    // The capture and the player share the process's one `sound`, so the virtual devices'
    // loopback reaches the microphone. `editor`, `devices` and `sound` must outlive the model.
    OverdubModel(TakeEditorModel& editor, DeviceManager& devices, SoundSystem& sound,
                 QObject* parent = nullptr);
    ~OverdubModel() override;

    // The camera and microphone lists and choices the model records from.
    DeviceManager& devices() const { return m_devices; }
    // The live picture for the overdub screen (made on first use).
    CameraPreview& cameraPreview();
    // The inputs' meters, clip lights and channel mix, with their change signals (also
    // forwarded as this model's own).
    InputMonitor& inputs() { return *m_inputs; }
    // The one player of the model's life: views connect to its picture signals. A new output
    // re-targets it.
    Player& player() { return *m_player; }
    // The camera size recorded when the camera offers several (a command line's option).
    void setPreferredVideoSize(const QSize& size);
    // What stands in the way of playing through the chosen output; empty when nothing does.
    QString outputProblem() const;
    // The channels the configured microphone delivers (0 before it runs).
    int microphoneChannels() const;

    const RecorderState& state() const { return m_state; }
    const std::vector<LevelMeter::Level>& levels() const { return m_inputs->levels(); }
    const std::vector<bool>& clipped() const { return m_inputs->clipped(); }
    // The outputs to choose from; follows devices plugged in or removed while active.
    const std::vector<AudioOutputDevice>& outputs() const { return m_outputs; }
    const std::optional<QString>& configuredCameraID() const {
        return m_inputs->configuredCameraID();
    }
    const std::optional<QString>& configuredMicID() const { return m_inputs->configuredMicID(); }
    const std::vector<ChannelMix>& channels() const { return m_inputs->channels(); }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    bool recordVideo() const { return m_recordVideo; }
    bool mirrorPreview() const { return m_mirrorPreview; }
    const std::optional<QString>& outputID() const { return m_outputID; }
    double startTime() const { return m_startTime; }
    bool isPreviewing() const { return m_isPreviewing; }
    // The host instant playback and recording were scheduled for, and the take time played then.
    qint64 hostStartNs() const { return m_hostStartNs; }
    double sourceStart() const { return m_sourceStart; }
    // What the engine returned for the last recording that stopped.
    const RecordingResult& lastResult() const { return m_lastResult; }

    // The start times allowed: from the in point to half a second before the end (or 0.1 s
    // after the in point when the take is shorter).
    Range startRange() const;

    // Stored under "overdubVideo", "mirrorPreview" and "overdubOutput". A new output re-targets
    // the player (not while recording).
    // With `remember` false the value holds for this model only (a command line's option).
    void setRecordVideo(bool record, bool remember = true);
    void setMirrorPreview(bool mirror);
    void setOutputID(const std::optional<QString>& id, bool remember = true);
    // A countdown for this model only, instead of the stored "countdown".
    void useCountdownSeconds(std::optional<int> seconds) { m_countdownOverride = seconds; }
    // Cues the player there.
    void setStartTime(double seconds);
    void clearErrorMessage() { setErrorMessage(std::nullopt); }

    // The screen opened: the editor pauses, devices and meters start, the take's monitor mix is
    // loaded into the player; `done` runs once it is cued (or failed).
    void activate(std::function<void()> done = {});
    // The screen closed: countdown, meters and player stopped, the session closed.
    void deactivate();
    // Configures the chosen devices (only while idle); false when that failed.
    bool applyDevices(bool force);
    void cueStart();
    // Practice playback from the start time, or stops it.
    void togglePreview();
    void toggleChannel(int index);
    // The record action: starts the countdown, cancels it, or stops and adds the overdub
    // (announced by recordingEnded).
    void toggleRecording();

signals:
    void stateChanged();
    void levelsChanged();
    void clippedChanged();
    void outputsChanged();
    void configuredCameraIDChanged();
    void configuredMicIDChanged();
    void channelsChanged();
    void errorMessageChanged();
    void recordVideoChanged();
    void mirrorPreviewChanged();
    void outputIDChanged();
    void startTimeChanged();
    void isPreviewingChanged();
    // A recording ended: `added` when it became an overdub of the take (then `overdub` is it).
    void recordingEnded(bool added, const Overdub& overdub);

private:
    void setState(const RecorderState& state);
    void setErrorMessage(const std::optional<QString>& message);
    void setIsPreviewing(bool previewing);

    void observePlayerEnd();
    void refreshOutputs();
    void loadMonitor(std::function<void()> done);
    void reloadMonitor(std::function<void()> done);
    void cancelCountdown();
    void waitUntilReady(int run, int looks, std::function<void(bool)> then);
    void start();
    void stop();
    void finishStop(const RecordingResult& result);

    TakeEditorModel& m_editor;
    DeviceManager& m_devices;
    SoundSystem& m_sound;
    std::unique_ptr<CaptureEngine> m_engine;
    InputMonitor* m_inputs;
    CameraPreview* m_cameraPreview = nullptr; // a child, made on first use
    std::unique_ptr<Player> m_player;
    std::shared_ptr<const TakeComposer::Result> m_monitor;

    RecorderState m_state;
    std::vector<AudioOutputDevice> m_outputs;
    std::optional<QString> m_errorMessage;
    bool m_recordVideo = true;
    bool m_mirrorPreview = true;
    std::optional<QString> m_outputID;
    double m_startTime = 0;
    bool m_active = false;
    // At its end the state stays countdown(1) while the player gets ready.
    Countdown m_countdown{[this](int left) { setState(RecorderState::countdown(left)); },
                          [this] { start(); }};
    QMetaObject::Connection m_endObserver;
    qint64 m_hostStartNs = 0;
    double m_sourceStart = 0;
    bool m_isPreviewing = false;

    RecordingResult m_lastResult;
    std::optional<QString> m_deviceLoss; // "<device> was disconnected."
    std::optional<int> m_countdownOverride;
    int m_run = 0; // the current start; a cancelled countdown or deactivate outdates it
    int m_monitorLoad = 0;
};

} // namespace reelbox
