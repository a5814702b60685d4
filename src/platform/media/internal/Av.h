#pragma once

// FFmpeg glue shared by the media classes. Internal to reelbox_platform: nothing outside
// src/platform includes this header.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <QSize>
#include <QString>
#include <memory>

namespace reelbox::av {

struct InputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct OutputDeleter {
    void operator()(AVFormatContext* context) const;
};
struct CodecDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct SwsDeleter {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
struct SwrDeleter {
    void operator()(SwrContext* context) const { swr_free(&context); }
};

using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;
using OutputPtr = std::unique_ptr<AVFormatContext, OutputDeleter>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

FramePtr makeFrame();
PacketPtr makePacket();

// FFmpeg's own description of an error code.
QString errorText(int code);

// The file name as shown in messages.
QString displayName(const QString& path);

// Throws Error("<what>: <FFmpeg's text>") when code is negative; returns code otherwise.
int check(int code, const QString& what);

// Routes FFmpeg's log into the "reelbox.media" category (quiet unless enabled). Idempotent.
void installLogging();

// Opens a local file for demuxing (never through another protocol) and reads the stream
// parameters. Throws Error("Can't open “name”: ...").
InputPtr openInput(const QString& path);

// Index of the first stream of the kind in file order (attached cover pictures skipped), or -1.
int firstStream(const AVFormatContext* format, AVMediaType kind);

// Start and duration of a stream in seconds, falling back to the container's values.
double streamStartSeconds(const AVFormatContext* format, const AVStream* stream);
double streamDurationSeconds(const AVFormatContext* format, const AVStream* stream);

// Clockwise display rotation of a video stream in degrees: 0, 90, 180 or 270.
int displayRotation(const AVStream* stream);

// A decoder for the stream's parameters, opened; threads 0 = one per core, threadType
// FF_THREAD_FRAME and/or FF_THREAD_SLICE. Throws Error with `what` as the prefix.
// The first video track of a file, opened for reading with every other stream discarded.
struct VideoInput {
    InputPtr format;
    int streamIndex = -1;
    AVStream* stream = nullptr;
    int rotation = 0;  // clockwise display rotation
    QSize naturalSize; // as displayed: rotation applied
};
// Throws Error("“name” has no video") or Error(what + ": " + FFmpeg's text).
VideoInput openVideo(const QString& path, const QString& what);

CodecPtr openDecoder(const AVStream* stream, int threads, int threadType, const QString& what);

// Repairs the decoding time of an encoded video packet before it goes to a muxer. libx265 3.5
// hands out an uninitialised decoding delay when it is flushed before its first B-frame
// decision (a movie of a frame or two), so a decoding time that is missing, after the
// presentation time, more than `maxDelay` before it, or not after `lastDts` is replaced by the
// presentation time (kept after `lastDts`). `lastDts` starts as AV_NOPTS_VALUE.
void repairVideoDts(AVPacket& packet, int64_t& lastDts, int64_t maxDelay);

// The codec tag as four printable characters ("avc1", "hvc1"), empty when there is none.
QString fourcc(uint32_t tag);

inline double seconds(int64_t timestamp, AVRational timeBase) {
    return double(timestamp) * av_q2d(timeBase);
}

} // namespace reelbox::av
