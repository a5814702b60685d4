#pragma once

#include "platform/camera/CameraDevices.h"
#include "platform/sound/SoundDevice.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

namespace reelbox {

class SoundSystem;
class CameraWatcher;

// Where the device manager learns which devices exist. Emits devicesChanged on every connect
// and disconnect, on the thread that owns it.
class DeviceSource : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    virtual std::vector<CameraInfo> cameras() const = 0;
    virtual std::vector<SoundDevice> microphones() const = 0;
    // The system's default devices; empty when it names none.
    virtual QString defaultCameraId() const = 0;
    virtual QString defaultMicrophoneId() const = 0;

signals:
    void devicesChanged();
};

// The machine's devices: V4L2 cameras with their hot-plug watcher, and the process's sound
// system (which must outlive it).
class SystemDevices : public DeviceSource {
    Q_OBJECT
public:
    explicit SystemDevices(SoundSystem& sound, QObject* parent = nullptr);
    ~SystemDevices() override;

    std::vector<CameraInfo> cameras() const override;
    std::vector<SoundDevice> microphones() const override;
    // Linux names no default camera.
    QString defaultCameraId() const override { return {}; }
    QString defaultMicrophoneId() const override;

private:
    SoundSystem& m_sound;
    CameraWatcher* m_cameras;
};

// The cameras and microphones to choose from and the chosen ones, remembered across launches
// under "cameraID" and "microphoneID". A remembered device that is unplugged is replaced by
// the default one (and the replacement is remembered).
// Threads: call it on the main thread only; its signals arrive on the main thread.
class DeviceManager : public QObject {
    Q_OBJECT
public:
    // The machine's devices, through the process's one sound system (which must outlive it).
    explicit DeviceManager(SoundSystem& sound, QObject* parent = nullptr);
    explicit DeviceManager(std::unique_ptr<DeviceSource> source, QObject* parent = nullptr);
    ~DeviceManager() override;

    const std::vector<CameraInfo>& cameras() const { return m_cameras; }
    const std::vector<SoundDevice>& microphones() const { return m_microphones; }
    const std::optional<QString>& cameraID() const { return m_cameraID; }
    const std::optional<QString>& microphoneID() const { return m_microphoneID; }

    // Stored at once; an equal value emits nothing.
    void setCameraID(const std::optional<QString>& id);
    void setMicrophoneID(const std::optional<QString>& id);

    // The chosen devices, when they are in the lists.
    const CameraInfo* camera() const;
    const SoundDevice* microphone() const;

    // Reads the lists again and applies the fallback rule.
    void refresh();

    DeviceSource& source() const { return *m_source; }

    struct Access {
        bool video = true;
        bool audio = true;
    };
    // Linux asks no permission; a camera this user may not open counts as refused.
    static Access requestAccess();

signals:
    void camerasChanged();
    void microphonesChanged();
    void cameraIDChanged();
    void microphoneIDChanged();

private:
    DeviceSource* m_source; // owned as a child
    std::vector<CameraInfo> m_cameras;
    std::vector<SoundDevice> m_microphones;
    std::optional<QString> m_cameraID;
    std::optional<QString> m_microphoneID;
};

} // namespace reelbox
