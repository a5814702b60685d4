#pragma once

#include "platform/sound/AudioStreams.h"

#include <memory>
#include <vector>

namespace reelbox::alsa {

struct Device {
    SoundDevice device; // id = the ALSA PCM name ("plughw:CARD=…,DEV=…")
    bool capture = false;
    bool playback = false;
};

// The sound cards' PCM devices, for machines where no sound server runs.
std::vector<Device> listDevices();

// Opens a PCM by name straight on ALSA; `channels` 0 takes all the device has. Throws
// reelbox::Error with ALSA's text when the device is busy, missing or refuses the format.
std::unique_ptr<AudioInputStream> openInput(const QString& name, SoundInputCallback onBuffer,
                                            SoundErrorCallback onError);
std::unique_ptr<AudioOutputStream> openOutput(const QString& name, int channels,
                                              SoundOutputCallback render,
                                              SoundErrorCallback onError);

} // namespace reelbox::alsa
