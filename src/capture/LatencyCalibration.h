#pragma once

#include "platform/SampleRate.h"

#include <QString>
#include <QtGlobal>
#include <span>
#include <stop_token>
#include <vector>

namespace reelbox {

class SoundSystem;

// What a round-trip measurement from an output back into a microphone input found: the delay
// that no device reports (a cable, converters, an unreported buffer).
struct RoundTrip {
    double seconds = 0;                      // the mean of the measurements
    std::vector<double> measurementsSeconds; // one per play, in order
    // What an overdub recorded through that path is moved by.
    double nudgeSeconds() const { return -seconds; }
};

// The pieces of the measurement that need no device.
namespace latency {

// The measurements a result needs; a play spoilt by a dropout is played again, up to maxPlays.
inline constexpr int playCount = 5;
inline constexpr int maxPlays = 9;
inline constexpr int signalFrames = audioSampleRate * 3 / 20; // 150 ms
// Where the signal is looked for, relative to where the devices say it should be.
inline constexpr int earliestFrames = audioSampleRate / 50; // 20 ms early
inline constexpr int latestFrames = audioSampleRate / 2;    // 500 ms late
// The correlation peak must stand this far above everything else in the window.
inline constexpr double minimumClarity = 4.0;
// The measurements must agree within this many frames.
inline constexpr int agreementFrames = 2;

// A noise burst of signalFrames with short fades, peak 0.5; the same every time.
std::vector<float> testSignal();

struct Peak {
    qint64 position = -1; // the recording frame where the signal starts; -1 when none
    double clarity = 0;   // |peak| over the largest correlation away from it; 0 when none
};

// The best match of `signal` in `recording` starting at frames first…last (clamped to the
// recording), by direct cross-correlation with either polarity.
Peak findSignal(std::span<const float> signal, std::span<const float> recording, qint64 first,
                qint64 last);

struct Play {
    qint64 delayNs = 0; // when the signal entered the input minus when the output said it's heard
    double clarity = 0;
};

// The first playCount clearly heard plays that agree within agreementFrames, in play order;
// empty while there are none.
std::vector<Play> agreeingPlays(std::span<const Play> plays);

// The result of the plays, or reelbox::Error saying what to check. `input` is 1-based.
RoundTrip conclude(std::span<const Play> plays, int input);

} // namespace latency

// Once both streams' stamps run steady, plays latency::testSignal() through the output until
// playCount plays heard in the microphone's `channel` (0-based) agree, timed by the streams' own
// host-clock stamps. Blocks for about four seconds. Throws reelbox::Error with what to check,
// or Cancelled.
RoundTrip measureRoundTrip(SoundSystem& sound, const QString& outputId, const QString& microphoneId,
                           int channel, const std::stop_token& stop = {});

} // namespace reelbox
