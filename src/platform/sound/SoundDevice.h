#pragma once

#include "platform/SampleRate.h"

#include <QString>
#include <QtGlobal>
#include <functional>

namespace reelbox {

// Every sound stream runs at this rate, 32-bit float, interleaved.
inline constexpr int soundSampleRate = audioSampleRate;

// A sound source or sink. The id is unique and stable (PipeWire's node.name); the name is
// what pickers show.
struct SoundDevice {
    QString id;
    QString name;
    int channels = 0;
    bool isVirtual = false;
    bool operator==(const SoundDevice&) const = default;
};

// The unique ids and names of the virtual devices.
QString testMicrophoneId();
QString testMicrophoneName();
QString testOutputId();
QString testOutputName();

// Called on the audio thread with one buffer of interleaved samples and the host-clock instant
// (steady_clock, ns) at which its first sample entered the device. Must not block or allocate.
using SoundInputCallback =
    std::function<void(const float* interleaved, int frames, int channels, qint64 hostTimeNs)>;

// Called on the audio thread to fill one buffer; hostTimeNs is the instant its first sample
// will be heard. Must not block or allocate.
using SoundOutputCallback =
    std::function<void(float* interleaved, int frames, int channels, qint64 hostTimeNs)>;

// Called once, off the audio thread, when a stream ends on its own (device unplugged, server
// gone). The stream delivers nothing after it.
using SoundErrorCallback = std::function<void(const QString& message)>;

} // namespace reelbox
