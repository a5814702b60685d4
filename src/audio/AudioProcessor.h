#pragma once

#include "audio/SampleBuffer.h"
#include "model/EditState.h"
#include "model/Track.h"
#include "model/TrackEffects.h"

#include <QString>
#include <functional>
#include <memory>
#include <stop_token>
#include <vector>

namespace reelbox::AudioProcessor {

// One track that may sound in the mix.
struct TrackInput {
    QString stem;     // the mono stem of the track's channel
    double start = 0; // take time at which the stem's first frame sounds
    Track track;      // mute, solo, volume, pan and effects
    SpanList hidden;  // spans hidden on the track's lane
};

// What earlier renders made that a later one may take instead of making it again: each
// track as processed (spliced, hidden parts silenced, effects applied), reused while its sound
// before volume, pan and send is unchanged, and each reverb room's output, reused while the
// same tracks are sent to it at the same levels. A fader move then runs no track's effects and
// only the rooms that track is sent to. Keeps what the last render used. One render at a time
// may use it.
class TrackCache {
public:
    TrackCache();
    ~TrackCache();
    TrackCache(const TrackCache&) = delete;
    TrackCache& operator=(const TrackCache&) = delete;

    // Tracks held.
    int size() const;
    // Tracks and rooms the last render took from the cache instead of making them.
    int reused() const;
    int reusedRooms() const;

    // What is kept; only the mix reads it.
    struct State;
    State& state() { return *m_state; }

private:
    std::unique_ptr<State> m_state;
};

struct Analysis {
    double peakDB = 0;          // sample peak after effects and reverb, before the master gain
    double normalizeGainDB = 0; // 0 when normalize is off or the mix is silent; at most 18
    bool operator==(const Analysis&) const = default;
};

// Mixes the tracks over the played spans, laid end to end, into a stereo 32-bit float CAF at
// 48 kHz: each track spliced, hidden parts silenced, its effects, volume and pan, the shared
// reverb rooms, normalize and master volume, edge fades and a clip. Nothing is written when it
// is cancelled or fails before the output; a failure while writing may leave part of a file,
// which the caller does not use. Throws StemError::noAudio for an empty span list, Error,
// Cancelled.
// `progress` hears the fraction done after each track and each room.
// With a cache, what was made before is taken from it and the result is the same, sample
// for sample. With `written`, the samples as written to the file are left there, interleaved.
Analysis render(const std::vector<TrackInput>& tracks, const MasterSettings& master,
                const SpanList& spans, const QString& outputPath, const std::stop_token& token = {},
                const std::function<void(double)>& progress = {}, TrackCache* cache = nullptr,
                mix::Buffer* written = nullptr);

} // namespace reelbox::AudioProcessor
