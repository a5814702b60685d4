#pragma once

// The editor's mix from what earlier renders made: the cache behind AudioProcessor::TrackCache.

#include "audio/AudioProcessor.h"
#include "audio/MixSteps.h"

#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

namespace reelbox::mix {

// One track as processed, with what it was made from.
struct ProcessedTrack {
    std::uint64_t serial = 0; // tells this track's sound from every other one the cache held
    QString stem;
    double start = 0;
    SpanList spans;
    SpanList hidden;
    TrackEffects effects;
    Buffer samples;
    bool used = false;

    bool matches(const AudioProcessor::TrackInput& input, const SpanList& played) const;
};

// A room's reverberation of everything sent to it, the length of the mix.
struct RoomOutput {
    ReverbRoom room{};
    std::vector<Send> sends;
    Bus wet;
};

// Sums the sounding tracks and their rooms into `mix` (zeroed, the length of the mix), taking
// what the cache holds and keeping there what is made, with the same samples the streaming
// mix gives. Sets each send's `track`. With `written`, that buffer is sized for the
// interleaved output meanwhile. Returns the mix's peak. Throws Error or Cancelled.
float mixFromCache(AudioProcessor::TrackCache::State& cache,
                   const std::vector<const AudioProcessor::TrackInput*>& sounding,
                   std::vector<Send>& sends, const SpanList& spans,
                   const std::vector<std::uint32_t>& lengths, Bus& mix, Buffer* written,
                   const std::stop_token& token, const std::function<void(double)>& progress);

} // namespace reelbox::mix

namespace reelbox::AudioProcessor {

struct TrackCache::State {
    std::vector<std::unique_ptr<mix::ProcessedTrack>> tracks;
    std::vector<std::unique_ptr<mix::RoomOutput>> rooms;
    std::uint64_t nextSerial = 1;
    int reused = 0;
    int reusedRooms = 0;
};

} // namespace reelbox::AudioProcessor
