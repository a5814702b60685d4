#pragma once

namespace reelbox {

// Frames per second of every sound Reelbox records, extracts, mixes, plays and exports.
inline constexpr int audioSampleRate = 48000;

} // namespace reelbox
