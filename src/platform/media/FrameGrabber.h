#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <memory>
#include <stop_token>
#include <vector>

namespace reelbox {

// Pictures of a movie's first video track at given times, for filmstrips and thumbnails.
// A VideoDecoder for stills; not thread-safe (one grabber per thread).
class FrameGrabber {
public:
    // Throws Error when the file can't be opened or has no decodable video.
    explicit FrameGrabber(const QString& path);
    ~FrameGrabber();
    FrameGrabber(const FrameGrabber&) = delete;
    FrameGrabber& operator=(const FrameGrabber&) = delete;

    QSize naturalSize() const; // as displayed: rotation applied

    // The picture nearest to `seconds` (file time line). A key frame within `toleranceSeconds`
    // is taken as it is, which avoids decoding; otherwise decoding runs forward from the key
    // frame before. The picture is scaled down to fit `maxSize` with its aspect kept (an
    // empty maxSize keeps the natural size) and has the display rotation applied.
    // Format_RGB32. Throws Error when no picture can be decoded.
    QImage imageAt(double seconds, double toleranceSeconds, QSize maxSize);

    // imageAt for each time, in order; checks the token between pictures.
    std::vector<QImage> imagesAt(const std::vector<double>& times, double toleranceSeconds,
                                 QSize maxSize, const std::stop_token& token = {});

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace reelbox
