#pragma once

#include "platform/camera/CameraDevices.h"
#include "platform/camera/CameraStream.h"
#include "platform/sound/LevelMeter.h"
#include "platform/sound/SoundDevice.h"

#include <QFuture>
#include <QObject>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace reelbox {

class AudioInputStream;
class SoundSystem;

// What a finished recording returns.
struct RecordingResult {
    QString url;                    // the movie
    double duration = 0;            // seconds: end of the last picture (or sound) minus the start
    int audioChannelCount = 0;      // channels in the file; 0 without sound
    qint64 startTimeNs = 0;         // host clock (steady_clock) instant of the file's first sample
    qint64 droppedFrames = 0;       // pictures the camera delivered that are not in the file
    qint64 requestedAtNs = 0;       // host clock instant of startRecording()
    qint64 firstFrameWrittenNs = 0; // host clock instant the first picture was in the file
    qint64 lostSoundFrames = 0;     // sound the data thread took too late: silence in the file
};

// The camera format a camera is opened in, and the frame rate asked of it.
struct CameraFormatChoice {
    CameraFormat format;
    double frameRate = 0;
};

// Captures one camera and one microphone (every channel of it) and writes them into a movie:
// HEVC pictures and 32-bit float sound in a fragmented QuickTime movie. The session runs from
// the first successful configure() until stopSession(); configuring again swaps the inputs
// in place. The sound device's sample counter is the file's time line: pictures are placed on
// it through a clock mapping fitted to the sound buffers' host stamps, and the sound itself is
// never resampled.
//
// Threads: the camera and the microphone deliver on threads of their own, into lock-free
// rings; one data thread takes the samples, places them and alone touches the writer, whose
// encoder runs on a further thread behind a bounded queue. Everything public is for the main
// thread.
class CaptureEngine : public QObject {
    Q_OBJECT
public:
    explicit CaptureEngine(QObject* parent = nullptr);
    // Opens the microphone through `sound` (which must outlive the engine) instead of a sound
    // system of its own, so that it shares the virtual devices' loopback with a player.
    explicit CaptureEngine(SoundSystem* sound, QObject* parent = nullptr);
    ~CaptureEngine() override;

    // Opens, keeps or swaps the camera and the microphone; none removes that input. Throws
    // CameraError or Error when a device can't be opened, CaptureError::cannotAddInput when a
    // camera is busy; what was set up before the failure stays, and the session is not
    // started by a failed call.
    void configure(const std::optional<CameraInfo>& camera,
                   const std::optional<SoundDevice>& microphone);
    // Closes both inputs; the next configure() opens them again.
    void stopSession();
    bool isRunning() const { return m_running; }

    // The camera's active format: its size and frame rate (none without a camera).
    std::optional<QSize> videoSize() const;
    double frameRate() const { return m_frameRate; }
    std::optional<QString> cameraID() const;
    std::optional<QString> microphoneID() const;
    int microphoneChannels() const;

    // 1920 × 1080 first; else the largest format at most 1920 wide (the earlier on equal
    // area); only formats reaching 29.9 fps count; 30 fps when a range of the chosen format
    // holds it. None when no format is at most 1920 wide (the camera keeps its own format).
    static std::optional<CameraFormatChoice> selectBestFormat(const CameraInfo& camera);
    // Takes the format of exactly this size (reaching 29.9 fps) instead, when the camera has
    // one: small pictures for tests and the command line. Applies at the next camera change.
    void setPreferredSize(std::optional<QSize> size) { m_preferredSize = size; }

    // Per channel of the microphone: average and peak in dBFS since the previous call.
    std::vector<LevelMeter::Level> audioLevels();

    // Arms a recording into `path` (an existing file there is deleted); the first suitable
    // sample starts the file: a picture (once the microphone's first buffer was seen, when
    // there is one), or with includeVideo false the first sound buffer.
    void startRecording(const QString& path, bool includeVideo);
    // Cuts the file at the end of its last picture and completes it. The future fails with
    // CaptureError: notRecording when nothing was written, writerFailed otherwise.
    QFuture<RecordingResult> stopRecording();

    // The newest camera picture, for the preview (a null picture before the first).
    CameraFrame latestFrame() const;

signals:
    // The file could not be written any further (a full disk, say); what was written stays.
    void recordingFailed(const QString& message);
    // The camera or the microphone ended on its own (unplugged, driver failure); `device` is
    // its name. A recording goes on with what is left until it is stopped.
    void deviceLost(const QString& device);

private:
    struct Data;
    void openCamera(const CameraInfo& camera);
    void openMicrophone(const SoundDevice& microphone);
    void closeCamera();
    void closeMicrophone();

    std::unique_ptr<Data> d; // the data thread's side
    std::unique_ptr<SoundSystem> m_sound;
    SoundSystem* m_sharedSound = nullptr;
    std::unique_ptr<CameraStream> m_camera;
    std::unique_ptr<AudioInputStream> m_microphone;
    std::optional<CameraInfo> m_cameraInfo;
    std::optional<SoundDevice> m_microphoneInfo;
    std::optional<QSize> m_videoSize;
    double m_frameRate = 0;
    std::optional<QSize> m_preferredSize;
    bool m_running = false;
};

} // namespace reelbox
