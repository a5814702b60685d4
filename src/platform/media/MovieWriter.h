#pragma once

#include "platform/SampleRate.h"

#include "platform/media/YuvPicture.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QtGlobal>
#include <memory>

namespace reelbox {

// More would overflow the sizes the file and the encoder count in.
constexpr int maximumAudioChannels = 1024;

struct MovieWriterSettings {
    QSize videoSize;       // empty: no video track
    int frameRate = 30;    // expected rate; also the key frame interval (one a second)
    int audioChannels = 0; // 0: no audio track
    int sampleRate = audioSampleRate;
    int rotationDegrees = 0; // clockwise display rotation: 0, 90, 180 or 270
    qint64 videoBitRate = 0; // bits per second; 0 = constant quality
    // The colours pictures are stored in (YUV pictures are taken as they are).
    YuvPicture::Matrix matrix = YuvPicture::Matrix::bt709;
    // Live capture: x265 without look-ahead or frame delay, its threads sized for two cores.
    bool realTime = false;
    // Every fragment synced to the disk as it ends, so that a power cut loses no more than a
    // crash does. Recordings ask for it; a movie made faster than real time need not wait.
    bool syncToDisk = false;
};

// Writes a QuickTime movie: HEVC video (libx265, real-time settings) and 32-bit float linear
// PCM audio with any channel count (mono, stereo, otherwise discrete channels).
//
// The movie is fragmented and written straight under its name: a fragment ends at every key
// frame and at least every quarter second of sound, and goes to the file at once, so that the
// file reads up to its last complete fragment whenever the writing stops (a writer destroyed
// without finish() leaves it so too; MovieRepair tidies such a file). finish() gives the
// header the movie's length. Times are seconds on the movie's time line (0 = its start).
class MovieWriter {
public:
    // Throws Error when the file or an encoder can't be set up.
    MovieWriter(const QString& path, const MovieWriterSettings& settings);
    ~MovieWriter();
    MovieWriter(const MovieWriter&) = delete;
    MovieWriter& operator=(const MovieWriter&) = delete;

    const QString& path() const;

    // Any QImage format; scaled to the video size when it differs. A frame whose time is not
    // after the previous frame's is dropped (returns false).
    bool writeVideoFrame(const QImage& frame, double ptsSeconds);
    // A picture of exactly the video size, encoded without conversion; otherwise as above.
    bool writeVideoPicture(const YuvPicture& picture, double ptsSeconds);

    // Audio is laid down gap-free from the movie's start (a fragmented movie has no edit list
    // to start a track late: silence comes before the first call's ptsSeconds); later calls
    // follow on, except that a gap of more than 10 ms is filled with silence and an overlap
    // of more than 10 ms is cut from the new samples, which keeps the sound in step with the
    // pictures.
    void writeAudio(const float* interleaved, qint64 frames, double ptsSeconds);
    // Sound at an exact frame position: a gap before it (from the movie's start for the first)
    // is filled with silence, frames before the end of what was written are left out.
    void writeAudioAt(const float* interleaved, qint64 frames, qint64 position);

    // Flushes the encoder, writes what is held back and completes the file. Throws Error.
    void finish();
    // The same, with the sound cut at `endSeconds` (the end of the last picture).
    void finish(double endSeconds);

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace reelbox
