#include "audio/Filmstrip.h"

#include "platform/Cancellation.h"
#include "platform/media/FrameGrabber.h"
#include "platform/media/MovieInfo.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>

namespace reelbox::Filmstrip {

namespace {
constexpr double toleranceSeconds = 0.5;
const QString thumbnailName = QStringLiteral("thumbnail.jpg");
} // namespace

int eachFrame(const QString& moviePath, int count, double height,
              const std::function<void(int, const QImage&)>& sink, const std::stop_token& token) {
    const double duration = probeMovie(moviePath).durationSeconds;
    FrameGrabber grabber(moviePath);
    if (!(duration > 0) || count < 1)
        return 0;
    const QSize maxSize(int(std::lround(std::clamp(4 * height, 1.0, 16384.0))),
                        int(std::lround(std::clamp(2 * height, 1.0, 16384.0))));
    int made = 0;
    for (int i = 0; i < count; ++i) {
        throwIfCancelled(token);
        // On the 600-tick time line, as the composition counts.
        const double t = std::trunc((i + 0.5) * duration / count * 600) / 600;
        QImage image;
        try {
            image = grabber.imageAt(t, toleranceSeconds, maxSize);
        } catch (const Error&) {
            continue;
        }
        sink(i, image);
        ++made;
    }
    return made;
}

std::vector<QImage> frames(const QString& moviePath, int count, double height,
                           const std::stop_token& token) {
    std::vector<QImage> images;
    try {
        eachFrame(
            moviePath, count, height, [&](int, const QImage& image) { images.push_back(image); },
            token);
    } catch (const Error&) {
        // Nothing to grab from; the frames made so far stand.
    }
    return images;
}

QString thumbnailMovie(const Take& take) {
    if (!take.info.mainRemoved)
        return take.moviePath();
    for (const Overdub& o : take.info.overdubs)
        if (o.hasVideo && isSafeOverdubFileName(o.fileName))
            return QDir(take.overdubsFolder()).filePath(o.fileName);
    return take.moviePath();
}

std::optional<QImage> ensureThumbnail(const Take& take) {
    const QString path = QDir(take.folder).filePath(thumbnailName);
    if (QImage existing(path); !existing.isNull())
        return existing;

    QImage image;
    try {
        FrameGrabber grabber(thumbnailMovie(take));
        const double t = std::min(take.info.duration * 0.5, 1.0);
        image = grabber.imageAt(std::trunc(t * 600) / 600, 0, QSize(240, 240));
    } catch (const Error&) {
        return std::nullopt;
    }
    if (image.isNull())
        return std::nullopt;
    image.save(path, "JPG", 80); // a failed write still returns the picture
    return image;
}

} // namespace reelbox::Filmstrip
