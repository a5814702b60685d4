#pragma once

#include "platform/SampleRate.h"

#include <QtGlobal>
#include <cmath>
#include <cstdint>

// The three clocks of a take and the one place they are converted, each with its rounding:
// seconds (double, the take's time line and take.json), composition ticks (600 a second) and
// audio frames (audioSampleRate a second). A tick is exactly 80 frames.
namespace reelbox {

using Ticks = std::int64_t;
inline constexpr Ticks ticksPerSecond = 600;
inline constexpr qint64 framesPerTick = audioSampleRate / ticksPerSecond;
static_assert(audioSampleRate % ticksPerSecond == 0);

// Seconds to ticks, truncated toward zero.
inline Ticks toTicks(double seconds) {
    return Ticks(seconds * ticksPerSecond);
}
inline double toSeconds(Ticks ticks) {
    return double(ticks) / ticksPerSecond;
}

// Seconds to frames, rounded half away from zero: lengths and positions that must land on the
// nearest sample.
inline qint64 framesRounded(double seconds) {
    return std::llround(seconds * audioSampleRate);
}
// Seconds to frames, truncated toward zero: the frame a time falls in.
inline qint64 framesTruncated(double seconds) {
    return qint64(seconds * audioSampleRate);
}
// Exact: every tick is a whole number of frames.
inline qint64 ticksToFrames(Ticks ticks) {
    return ticks * framesPerTick;
}
inline double framesToSeconds(qint64 frames) {
    return double(frames) / audioSampleRate;
}

} // namespace reelbox
