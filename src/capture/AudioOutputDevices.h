#pragma once

#include <QHashFunctions>
#include <QString>
#include <vector>

namespace reelbox {

class SoundSystem;

// A place to listen: identified by id (the sink's unique name), shown by name.
struct AudioOutputDevice {
    QString id;
    QString name;
    bool operator==(const AudioOutputDevice&) const = default;
};

inline size_t qHash(const AudioOutputDevice& device, size_t seed = 0) {
    return qHashMulti(seed, device.id, device.name);
}

namespace AudioOutputDevices {

// The sinks in the sound server's order (devices with only inputs are left out), then the Test
// Output where it is offered. Empty when the server can't be asked.
std::vector<AudioOutputDevice> all(const SoundSystem& sound);

} // namespace AudioOutputDevices

} // namespace reelbox
