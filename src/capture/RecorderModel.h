#pragma once

#include "capture/CaptureEngine.h"
#include "capture/Countdown.h"
#include "capture/DeviceManager.h"
#include "model/Take.h"
#include "model/Track.h"
#include "platform/sound/LevelMeter.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

namespace reelbox {

class TakeLibrary;
class CameraPreview;

// What the recorder is doing.
struct RecorderState {
    enum class Kind { idle, countdown, recording, finishing };
    Kind kind = Kind::idle;
    int remaining = 0; // countdown: whole seconds left
    QDateTime since;   // recording: when it started

    static RecorderState idle() { return {}; }
    static RecorderState countdown(int n) { return {Kind::countdown, n, {}}; }
    static RecorderState recording(const QDateTime& since) { return {Kind::recording, 0, since}; }
    static RecorderState finishing() { return {Kind::finishing, 0, {}}; }
    bool operator==(const RecorderState&) const = default;
};

// The recorder screen's model: the chosen devices configured into the capture engine, level
// meters with latched clip lights, the channel mix remembered per microphone, the countdown,
// and a finished recording turned into a take in the library. Main thread only.
class RecorderModel : public QObject {
    Q_OBJECT
public:
    explicit RecorderModel(QObject* parent = nullptr);
    // With a device manager of the caller's (it becomes the model's child).
    explicit RecorderModel(DeviceManager* devices, QObject* parent = nullptr);
    ~RecorderModel() override;

    CaptureEngine& engine() { return *m_engine; }
    DeviceManager& devices() { return *m_devices; }
    // The live picture for the recorder screen (made on first use).
    CameraPreview& cameraPreview();

    const RecorderState& state() const { return m_state; }
    const std::vector<LevelMeter::Level>& levels() const { return m_levels; }
    const std::vector<bool>& clipped() const { return m_clipped; }
    bool permissionDenied() const { return m_permissionDenied; }
    const std::optional<QString>& videoInfo() const { return m_videoInfo; }
    int countdownSeconds() const { return m_countdownSeconds; }
    bool mirrorPreview() const { return m_mirrorPreview; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    const std::vector<ChannelMix>& channels() const { return m_channels; }
    const std::optional<QString>& configuredCameraID() const { return m_configuredCameraID; }
    const std::optional<QString>& configuredMicID() const { return m_configuredMicID; }
    const std::optional<QString>& recordingFolder() const { return m_recordingFolder; }
    // What the engine returned for the last recording that stopped.
    const RecordingResult& lastResult() const { return m_lastResult; }

    // Stored under "countdown" and "mirrorPreview"; the mix under "mix.<microphone id>".
    void setCountdownSeconds(int seconds);
    // The countdown for this model's life only, not remembered (a command line's option).
    void useCountdownSeconds(int seconds);
    void setMirrorPreview(bool mirror);
    void setChannels(const std::vector<ChannelMix>& channels);
    void clearErrorMessage();

    // The recorder screen is shown: access, devices, meters; interrupted recordings in the
    // library (when one is given) are finished first.
    void activate(TakeLibrary* library = nullptr);
    // Left: countdown cancelled; unless recording, meters and session stopped.
    void deactivate();
    // Configures the chosen devices into the engine, never under a running recording.
    void applyDevices();
    void toggleChannel(int index);
    void resetClipLights();
    // The record action: start (after the countdown), cancel the countdown, or stop and save;
    // a saved take is announced by takeFinished.
    void toggleRecording(TakeLibrary& library);

    // Latches the clip flag of every channel whose peak is above −0.5 dBFS.
    static void latchClips(std::vector<bool>& clipped,
                           const std::vector<LevelMeter::Level>& levels);
    // "Take " and the date as "ddd d MMM, HH:mm" in the user's locale.
    static QString defaultName(const QDateTime& when);

signals:
    void stateChanged();
    void levelsChanged();
    void clippedChanged();
    void permissionDeniedChanged();
    void videoInfoChanged();
    void countdownSecondsChanged();
    void mirrorPreviewChanged();
    void errorMessageChanged();
    void channelsChanged();
    // A recording was saved as this take (also a take kept after a failed write).
    void takeFinished(const Take& take);
    // A recording ended without a take (errorMessage tells why).
    void recordingAbandoned();

private:
    void setState(const RecorderState& state);
    void setLevels(const std::vector<LevelMeter::Level>& levels);
    void setClipped(const std::vector<bool>& clipped);
    void setPermissionDenied(bool denied);
    void setVideoInfo(const std::optional<QString>& info);
    void setErrorMessage(const std::optional<QString>& message);
    void assignChannels(const std::vector<ChannelMix>& channels);

    void startMeters();
    void updateMeters();
    std::vector<ChannelMix> loadMix(int channelCount) const;
    void saveMix();
    void cancelCountdown();
    void countdownFinished();
    void startNow(TakeLibrary& library);
    void stop(TakeLibrary& library);
    void finishStop(TakeLibrary& library, const QString& folder,
                    const std::optional<RecordingResult>& result, const QString& failure,
                    bool written);
    void onDeviceLost(const QString& device);
    void onWriteFailed(const QString& message);

    DeviceManager* m_devices;
    CaptureEngine* m_engine;
    RecorderState m_state;
    std::vector<LevelMeter::Level> m_levels;
    std::vector<bool> m_clipped;
    bool m_permissionDenied = false;
    std::optional<QString> m_videoInfo;
    int m_countdownSeconds = 3;
    bool m_mirrorPreview = true;
    std::optional<QString> m_errorMessage;
    std::vector<ChannelMix> m_channels;
    std::optional<QString> m_configuredCameraID;
    std::optional<QString> m_configuredMicID;
    std::optional<QString> m_recordingFolder;
    RecordingResult m_lastResult;

    QTimer m_meterTimer;
    Countdown m_countdown{[this](int left) { setState(RecorderState::countdown(left)); },
                          [this] { countdownFinished(); }};
    QPointer<TakeLibrary> m_library;
    std::unique_ptr<QLockFile> m_recordingLock;
    std::optional<QString> m_writeFailure;
    std::optional<QString> m_deviceLoss;      // "<device> was disconnected."
    CameraPreview* m_cameraPreview = nullptr; // a child, made on first use
};

} // namespace reelbox
