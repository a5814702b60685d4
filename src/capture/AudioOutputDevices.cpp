#include "capture/AudioOutputDevices.h"

#include "platform/sound/SoundSystem.h"

namespace reelbox::AudioOutputDevices {

std::vector<AudioOutputDevice> all(const SoundSystem& sound) {
    std::vector<AudioOutputDevice> list;
    for (const SoundDevice& device : sound.outputs())
        list.push_back(AudioOutputDevice{device.id, device.name});
    return list;
}

} // namespace reelbox::AudioOutputDevices
