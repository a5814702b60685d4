#pragma once

#include "platform/Error.h"
#include "platform/media/YuvPicture.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>
#include <stop_token>

namespace reelbox {

// An encoder the export needs is missing from the FFmpeg build.
class EncoderUnavailable : public Error {
public:
    using Error::Error;
};

struct Mp4WriterSettings {
    enum class Video { none, h264, hevc };

    // h264: libx264 medium CRF 18; hevc: libx265 medium CRF 22, hvc1; both with a key frame
    // every 2 s (at most)
    Video video = Video::h264;
    QSize videoSize;    // even width and height
    int frameRate = 30; // constant
    // Colours: BT.709 from 720 lines up and BT.601 below, or BT.709 at every size (to match
    // sources recorded in it, whose pictures can then be passed on without conversion).
    bool bt709 = false;
    bool audio = true; // AAC-LC, 48 kHz stereo, 256 kb/s
    bool m4a = false;  // audio only, in an M4A (ipod) container
};

// Writes an MP4 (or M4A) with the index at the front (faststart), exactly at `path`.
// Video frames are numbered from 0 at the constant frame rate; audio is interleaved stereo
// float at 48 kHz, laid down gap-free from time 0. Throws EncoderUnavailable when an encoder
// is missing, Error for other failures. A writer destroyed without finish() leaves whatever it
// wrote; the caller removes it.
class Mp4Writer {
public:
    Mp4Writer(const QString& path, const Mp4WriterSettings& settings);
    ~Mp4Writer();
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    // Any QImage format, scaled to the video size when it differs. Frame indexes increase
    // (gaps hold the previous picture); an empty frame or an index out of order throws Error.
    void writeVideoFrame(const QImage& frame, qint64 frameIndex);
    // A picture of the video's size and colour matrix, passed to the encoder as it is.
    // Throws Error when it doesn't fit.
    void writeVideoFrame(const YuvPicture& frame, qint64 frameIndex);
    YuvPicture::Matrix colourMatrix() const; // of the video
    void writeAudio(const float* interleavedStereo, qint64 frames);
    // Drains the encoders, writes the index and moves it to the front. `progress` hears 0 … 1
    // through those steps; a stop request ends them with Cancelled, the file left unfinished.
    void finish(const std::function<void(double)>& progress = {},
                const std::stop_token& token = {});

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace reelbox
