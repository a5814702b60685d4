#pragma once

#include "platform/media/YuvPicture.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>

namespace reelbox {

// Decodes a movie's first video track: frames are asked for at increasing times and come from
// decoding forward; a time behind the current picture, or far ahead of it, seeks to the key
// frame before it first. Not thread-safe (one decoder per thread).
class VideoDecoder {
public:
    // How pictures will be asked for: in order (playback, export), or here and there (stills
    // for filmstrips and thumbnails, where single pictures decode faster on slice threads).
    enum class Access { sequential, scattered };

    // Throws Error when the file can't be opened or has no decodable video.
    explicit VideoDecoder(const QString& path, Access access = Access::sequential);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    QSize naturalSize() const; // rotation applied

    // The frame on screen at `seconds` on the file's time line: the last frame whose time is
    // at or before it (the first frame for earlier times). Format_RGB32 at the natural size
    // with the display rotation applied. A null image when the movie has no frame there
    // (past its end). Throws Error on a decoding failure.
    //
    // With a `region` (natural-size pixels), only the pixels inside it are guaranteed; the
    // rest of the image may hold anything. The image's buffer is reused for the next frame
    // once every copy of the returned image is gone, so steady decoding allocates nothing.
    QImage frameAt(double seconds, const QRect& region = {});

    // The same picture as it was decoded, without any conversion, when it is 8-bit 4:2:0 in
    // limited range with BT.601 or BT.709 colours, an even size and no display rotation; a
    // null picture past the end. None when the movie's pictures aren't like that (frameAt
    // then converts them). The decoded buffers are shared, not copied.
    std::optional<YuvPicture> yuvFrameAt(double seconds);

    // A still: the picture nearest to `seconds` (the first or the last one for times outside
    // the movie). A key frame within `toleranceSeconds` is taken as it is, which avoids
    // decoding up to the time. Scaled to `size` (as displayed; the natural size when empty)
    // with the display rotation applied; a new Format_RGB32 image. Throws Error when no
    // picture decodes.
    QImage stillAt(double seconds, double toleranceSeconds, QSize size = {});

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace reelbox
