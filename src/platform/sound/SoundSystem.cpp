#include "platform/sound/SoundSystem.h"

#include "platform/Error.h"
#include "platform/camera/CameraDevices.h"
#include "platform/sound/internal/Alsa.h"
#include "platform/sound/internal/PipeWire.h"
#include "platform/virtual/TestMicrophone.h"
#include "platform/virtual/TestOutput.h"

namespace reelbox {

SoundSystem::SoundSystem(QObject* parent)
    : QObject(parent), m_loopback(std::make_shared<SoundLoopback>()) {
    pipewire::Connection::Listener listener;
    listener.nodeAdded = [this](const SoundDevice& device) {
        QMetaObject::invokeMethod(
            this,
            [this, id = device.id] {
                emit deviceAdded(id);
                emit devicesChanged();
            },
            Qt::QueuedConnection);
    };
    listener.nodeRemoved = [this](const QString& id) {
        QMetaObject::invokeMethod(
            this,
            [this, id] {
                emit deviceRemoved(id);
                emit devicesChanged();
            },
            Qt::QueuedConnection);
    };
    listener.defaultsChanged = [this] {
        QMetaObject::invokeMethod(this, &SoundSystem::devicesChanged, Qt::QueuedConnection);
    };
    m_pipewire = pipewire::Connection::open(std::move(listener), &m_problem);
    if (!m_pipewire) {
        m_alsa = alsa::listDevices();
        if (!m_alsa.empty())
            m_problem = QStringLiteral(
                "No sound server is running (PipeWire), so the sound cards are used directly.");
    }
}

SoundSystem::~SoundSystem() = default;

bool SoundSystem::hasServer() const {
    return m_pipewire != nullptr;
}

std::vector<SoundDevice> SoundSystem::microphones() const {
    std::vector<SoundDevice> list;
    if (m_pipewire)
        for (const pipewire::Node& node : m_pipewire->nodes())
            if (node.isSource)
                list.push_back(node.device);
    for (const alsa::Device& device : m_alsa)
        if (device.capture)
            list.push_back(device.device);
    if (list.empty() || virtualDevicesForced())
        list.push_back(
            TestMicrophone::deviceInfo(TestMicrophone::Options::fromEnvironment().channels));
    return list;
}

std::vector<SoundDevice> SoundSystem::outputs() const {
    std::vector<SoundDevice> list;
    if (m_pipewire)
        for (const pipewire::Node& node : m_pipewire->nodes())
            if (node.isSink)
                list.push_back(node.device);
    for (const alsa::Device& device : m_alsa)
        if (device.playback)
            list.push_back(device.device);
    if (list.empty() || virtualDevicesForced())
        list.push_back(TestOutput::deviceInfo());
    return list;
}

QString SoundSystem::defaultMicrophoneId() const {
    return m_pipewire ? m_pipewire->defaults().source : QString();
}

QString SoundSystem::defaultOutputId() const {
    return m_pipewire ? m_pipewire->defaults().sink : QString();
}

std::unique_ptr<AudioInputStream>
SoundSystem::openInput(const QString& id, SoundInputCallback onBuffer, SoundErrorCallback onError) {
    if (id == testMicrophoneId())
        return std::make_unique<TestMicrophone>(TestMicrophone::Options::fromEnvironment(),
                                                m_loopback, std::move(onBuffer),
                                                std::move(onError));
    if (m_pipewire)
        return m_pipewire->openInput(id, std::move(onBuffer), std::move(onError));
    try {
        return alsa::openInput(id, std::move(onBuffer), std::move(onError));
    } catch (const Error& e) {
        throw Error(m_problem + u' ' + e.message());
    }
}

std::unique_ptr<AudioOutputStream> SoundSystem::openOutput(const QString& id,
                                                           SoundOutputCallback render,
                                                           SoundErrorCallback onError,
                                                           int channels) {
    if (id == testOutputId())
        return std::make_unique<TestOutput>(channels, m_loopback, std::move(render),
                                            std::move(onError));
    if (m_pipewire)
        return m_pipewire->openOutput(id, channels, std::move(render), std::move(onError));
    try {
        return alsa::openOutput(id, channels, std::move(render), std::move(onError));
    } catch (const Error& e) {
        throw Error(m_problem + u' ' + e.message());
    }
}

} // namespace reelbox
