#pragma once

// The steps of the offline mix, each a small function over whole-take float buffers.

#include "audio/AudioProcessor.h"
#include "audio/SampleBuffer.h"
#include "model/EditState.h"
#include "model/Track.h"
#include "platform/SampleRate.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <utility>
#include <vector>

namespace reelbox::mix {

inline constexpr qint64 rampFrames = 384;   // 8 ms, every fade of the mix
inline constexpr qint64 blockFrames = 4096; // largest block between cancellation checks

// Frames of each span, rounded half away from zero.
std::vector<std::uint32_t> spanLengths(const SpanList& spans);

// Squared linear ramps: fade-in frame k × (k/n)², fade-out frame k × (1 − k/n)².
void fadeIn(float* samples, qint64 n);
void fadeOut(float* samples, qint64 n);

// One track's time line: the stem's frames for each played span laid end to end, silence
// where the stem hasn't begun or has ended, and ramps at the seams between spans. A stem
// sample that is not finite counts as silence. `inputStart` is the take time of the stem's first
// frame. Throws Error on a read failure.
Buffer splice(const QString& stemPath, double inputStart, const SpanList& spans,
              const std::vector<std::uint32_t>& lengths, qint64 total);
// The same into a buffer that is reused from one track to the next: it is resized to `total`
// and every frame is written, whatever it held before.
void splice(Buffer& into, const QString& stemPath, double inputStart, const SpanList& spans,
            const std::vector<std::uint32_t>& lengths, qint64 total);

// Silences the parts of a spliced track hidden on its lane, with ramps either side.
void silenceHidden(Buffer& buffer, const SpanList& hidden, const SpanList& spans,
                   const std::vector<std::uint32_t>& lengths);

// EQ (with low cut), compressor and limiter as the track's effects ask. Leaves the buffer
// untouched, bit for bit, when the EQ and the compressor are both off.
void processTrack(Buffer& buffer, const TrackEffects& effects, const std::stop_token& token);

// Gains above +24 dB count as +24 dB (track volumes, the master volume, the EQ bands); a gain
// that is not a number counts as 0 dB.
inline constexpr double loudestGainDB = 24;
double limitedGainDB(double gainDB);

// Constant-power gains of a track's volume (limited as above) and pan.
struct StereoGain {
    float left = 0;
    float right = 0;
};
StereoGain panGains(double volumeDB, double pan);

// The largest finite absolute sample of the two channels.
float peakLevel(const Buffer& left, const Buffer& right);

// The end of the mix, after the normalize measurement: every sample scaled by `factor`
// (nothing is done for exactly 1), the first 384 frames faded in when there are that many,
// the last min(total, 384) faded out, every sample clipped to -1 ... +1 (one that is not
// finite becomes 0), and the pair written
// as a stereo 32-bit float file. The work is done a chunk at a time just before the chunk is
// written, so the mix is passed over once; the buffers are left scaled, faded and clipped.
// With `written`, the file's samples are also left there, interleaved.
// Throws Error when the file can't be written.
void finishAndWrite(const QString& path, Buffer& left, Buffer& right, float factor,
                    Buffer* written = nullptr);

// A stereo pair of whole-take buffers.
struct Bus {
    Buffer left;
    Buffer right;
};

// What one track gives the mix: its gains left and right, and its reverb send (after them).
// `track` names the track's processed sound where a cache keeps it.
struct Send {
    std::uint64_t track = 0;
    float left = 0;
    float right = 0;
    float send = 0;
    bool operator==(const Send&) const = default;
};

// One track's time line, processed: spliced, hidden parts silenced, effects applied.
void processTrackSound(Buffer& samples, const AudioProcessor::TrackInput& input,
                       const SpanList& spans, const std::vector<std::uint32_t>& lengths,
                       qint64 total, const std::stop_token& token);

// A room's reverberation, a block at a time: `input(at, n)` gives the left and right input of
// frames [at, at + n), and `use(at, left, right, n)` is given that block of the output, in a
// scratch block or, with `whole`, in place in that pair, made `total` frames long.
void reverberate(ReverbRoom room, qint64 total, Bus* whole, const std::stop_token& token,
                 const std::function<std::pair<const float*, const float*>(qint64, qint64)>& input,
                 const std::function<void(qint64, const float*, const float*, qint64)>& use);

} // namespace reelbox::mix
