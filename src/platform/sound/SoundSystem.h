#pragma once

#include "platform/sound/AudioStreams.h"

#include <QObject>
#include <memory>
#include <vector>

namespace reelbox {

class SoundLoopback;
namespace pipewire {
class Connection;
}
namespace alsa {
struct Device;
}

// The machine's sound devices and the virtual ones, with hot-plug. Talks to the PipeWire daemon;
// where none answers, to the sound cards through ALSA (without hot-plug). Signals arrive on the
// thread that created the object. Streams may outlive it.
class SoundSystem : public QObject {
    Q_OBJECT
public:
    explicit SoundSystem(QObject* parent = nullptr);
    ~SoundSystem() override;

    // Whether a sound server answered, and if not, why (a message for the user).
    bool hasServer() const;
    QString serverProblem() const { return m_problem; }

    // Sources (and duplex devices), then the Test Microphone where it is offered.
    std::vector<SoundDevice> microphones() const;
    // Sinks in the server's order, then the Test Output where it is offered.
    std::vector<SoundDevice> outputs() const;
    // The server's default devices; empty when it names none.
    QString defaultMicrophoneId() const;
    QString defaultOutputId() const;

    // Any source or sink (a sink gives what it plays), or a virtual device. Delivery starts at
    // once. Throws reelbox::Error when the device is gone, busy or refused.
    std::unique_ptr<AudioInputStream> openInput(const QString& id, SoundInputCallback onBuffer,
                                                SoundErrorCallback onError = {});
    std::unique_ptr<AudioOutputStream> openOutput(const QString& id, SoundOutputCallback render,
                                                  SoundErrorCallback onError = {},
                                                  int channels = 2);

signals:
    void deviceAdded(const QString& id);
    void deviceRemoved(const QString& id);
    // Any change of the lists or of the defaults.
    void devicesChanged();

private:
    QString m_problem;
    std::shared_ptr<SoundLoopback> m_loopback;
    std::unique_ptr<pipewire::Connection> m_pipewire;
    std::vector<alsa::Device> m_alsa; // when no server answers
};

} // namespace reelbox
