#include "capture/DeviceManager.h"

#include "platform/camera/CameraWatcher.h"
#include "platform/sound/SoundSystem.h"

#include "model/UserSettings.h"
#include "platform/AssignAndNotify.h"

#include <algorithm>

namespace reelbox {

namespace {

// The fallback rule: the stored device while it is present, else the system's default as it
// names it, else the first in the list, else none.
template <typename Device>
std::optional<QString> choose(const std::optional<QString>& current,
                              const std::vector<Device>& devices, const QString& systemDefault) {
    if (current && std::any_of(devices.begin(), devices.end(),
                               [&](const Device& d) { return d.id == *current; }))
        return current;
    if (!systemDefault.isEmpty())
        return systemDefault;
    if (!devices.empty())
        return devices.front().id;
    return std::nullopt;
}

} // namespace

SystemDevices::SystemDevices(SoundSystem& sound, QObject* parent)
    : DeviceSource(parent), m_sound(sound), m_cameras(new CameraWatcher(this)) {
    connect(&m_sound, &SoundSystem::devicesChanged, this, &DeviceSource::devicesChanged);
    connect(m_cameras, &CameraWatcher::camerasChanged, this, &DeviceSource::devicesChanged);
}

SystemDevices::~SystemDevices() = default;

std::vector<CameraInfo> SystemDevices::cameras() const {
    return listCameras();
}

std::vector<SoundDevice> SystemDevices::microphones() const {
    return m_sound.microphones();
}

QString SystemDevices::defaultMicrophoneId() const {
    return m_sound.defaultMicrophoneId();
}

DeviceManager::DeviceManager(SoundSystem& sound, QObject* parent)
    : DeviceManager(std::make_unique<SystemDevices>(sound), parent) {}

DeviceManager::DeviceManager(std::unique_ptr<DeviceSource> source, QObject* parent)
    : QObject(parent), m_source(source.release()), m_cameraID(UserSettings::cameraID()),
      m_microphoneID(UserSettings::microphoneID()) {
    m_source->setParent(this);
    refresh();
    connect(m_source, &DeviceSource::devicesChanged, this, &DeviceManager::refresh);
}

DeviceManager::~DeviceManager() = default;

void DeviceManager::setCameraID(const std::optional<QString>& id) {
    UserSettings::setCameraID(id);
    assignAndNotify(this, m_cameraID, id, &DeviceManager::cameraIDChanged);
}

void DeviceManager::setMicrophoneID(const std::optional<QString>& id) {
    UserSettings::setMicrophoneID(id);
    assignAndNotify(this, m_microphoneID, id, &DeviceManager::microphoneIDChanged);
}

const CameraInfo* DeviceManager::camera() const {
    for (const CameraInfo& c : m_cameras)
        if (m_cameraID && c.id == *m_cameraID)
            return &c;
    return nullptr;
}

const SoundDevice* DeviceManager::microphone() const {
    for (const SoundDevice& m : m_microphones)
        if (m_microphoneID && m.id == *m_microphoneID)
            return &m;
    return nullptr;
}

void DeviceManager::refresh() {
    std::vector<CameraInfo> cameras = m_source->cameras();
    std::vector<SoundDevice> microphones = m_source->microphones();
    const bool camerasDiffer = cameras != m_cameras;
    const bool microphonesDiffer = microphones != m_microphones;
    m_cameras = std::move(cameras);
    m_microphones = std::move(microphones);
    if (camerasDiffer)
        emit camerasChanged();
    if (microphonesDiffer)
        emit microphonesChanged();
    const std::optional<QString> camera =
        choose(m_cameraID, m_cameras, m_source->defaultCameraId());
    if (camera != m_cameraID)
        setCameraID(camera);
    const std::optional<QString> microphone =
        choose(m_microphoneID, m_microphones, m_source->defaultMicrophoneId());
    if (microphone != m_microphoneID)
        setMicrophoneID(microphone);
}

DeviceManager::Access DeviceManager::requestAccess() {
    const std::vector<CameraInfo> cameras = listCameras();
    Access access;
    access.video =
        cameras.empty() || std::any_of(cameras.begin(), cameras.end(),
                                       [](const CameraInfo& c) { return !c.permissionDenied; });
    return access;
}

} // namespace reelbox
