#pragma once

#include "platform/SampleRate.h"

#include <QString>
#include <QtGlobal>
#include <memory>
#include <vector>

namespace reelbox {

// One run of decoded audio: `frames` frames of interleaved samples. Reused between reads so
// that a steady read loop does not allocate.
struct AudioBuffer {
    double ptsSeconds = 0; // presentation time of the first frame, on the file's time line
    qint64 frames = 0;
    std::vector<float> samples; // frames × channel count, interleaved
};

// Decodes the first audio track of a movie to interleaved 32-bit float at 48,000 Hz with the
// track's own channel count. Every other stream is skipped unread. Errors throw Error with
// FFmpeg's text.
class AudioReader {
public:
    static constexpr int sampleRate = audioSampleRate;

    // Throws Error when the file can't be opened, has no audio or can't be decoded.
    explicit AudioReader(const QString& path);
    ~AudioReader();
    AudioReader(const AudioReader&) = delete;
    AudioReader& operator=(const AudioReader&) = delete;

    int channelCount() const;
    int sourceSampleRate() const;
    double startSeconds() const; // start of the track on the file's time line

    // Fills the buffer with the next run of audio; false once everything, including the
    // decoder's and the resampler's tails, has been delivered.
    bool read(AudioBuffer& buffer);

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace reelbox
