#pragma once

#include "platform/SampleRate.h"

#include <QtGlobal>
#include <chrono>
#include <cmath>

// The host clock: std::chrono::steady_clock (CLOCK_MONOTONIC, the clock of V4L2 timestamps and
// of PipeWire's stream timing), in nanoseconds. Every captured sample and every scheduled
// playback start is stamped on it. Any thread; no allocation, no lock.
namespace reelbox {

using HostClock = std::chrono::steady_clock;
inline constexpr qint64 nsPerSecond = 1'000'000'000;

// Now on the host clock.
inline qint64 hostNowNs() noexcept {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(HostClock::now().time_since_epoch())
        .count();
}

// The length of `frames` at the audio sample rate, truncated toward zero.
inline constexpr qint64 framesToNs(qint64 frames) noexcept {
    return frames * nsPerSecond / audioSampleRate;
}

// The frames in `ns` at the audio sample rate, rounded to the nearest.
inline qint64 nsToFrames(qint64 ns) noexcept {
    return std::llround(double(ns) * audioSampleRate / double(nsPerSecond));
}

} // namespace reelbox
