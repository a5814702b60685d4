#include "platform/media/FrameGrabber.h"

#include "platform/Cancellation.h"
#include "platform/media/VideoDecoder.h"

#include <algorithm>
#include <cmath>

namespace reelbox {

namespace {

QSize fitInside(QSize size, QSize maxSize) {
    double scale = 1.0;
    if (maxSize.width() > 0)
        scale = std::min(scale, double(maxSize.width()) / size.width());
    if (maxSize.height() > 0)
        scale = std::min(scale, double(maxSize.height()) / size.height());
    return {std::max(1, int(std::lround(size.width() * scale))),
            std::max(1, int(std::lround(size.height() * scale)))};
}

} // namespace

struct FrameGrabber::State {
    explicit State(const QString& path) : decoder(path, VideoDecoder::Access::scattered) {}
    VideoDecoder decoder;
};

FrameGrabber::FrameGrabber(const QString& path) : d(std::make_unique<State>(path)) {}

FrameGrabber::~FrameGrabber() = default;

QSize FrameGrabber::naturalSize() const {
    return d->decoder.naturalSize();
}

QImage FrameGrabber::imageAt(double seconds, double toleranceSeconds, QSize maxSize) {
    return d->decoder.stillAt(seconds, toleranceSeconds,
                              fitInside(d->decoder.naturalSize(), maxSize));
}

std::vector<QImage> FrameGrabber::imagesAt(const std::vector<double>& times,
                                           double toleranceSeconds, QSize maxSize,
                                           const std::stop_token& token) {
    std::vector<QImage> images;
    images.reserve(times.size());
    for (const double time : times) {
        throwIfCancelled(token);
        images.push_back(imageAt(time, toleranceSeconds, maxSize));
    }
    return images;
}

} // namespace reelbox
