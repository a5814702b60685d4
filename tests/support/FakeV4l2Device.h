#pragma once

#include "platform/camera/V4l2FormatTable.h"
#include "platform/camera/V4l2Io.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QtGlobal>
#include <memory>

namespace reelbox::v4l2 {

// A stand-in V4L2 capture device that answers the camera code's calls from a format table of
// discrete sizes and intervals and hands out the frames it is given, so the real listing and
// capture code runs without a camera. Only the device at `path` can be opened through it.
class FakeV4l2Device final : public Io {
public:
    FakeV4l2Device(const QString& path, const QString& card, std::vector<PixelFormat> table);
    ~FakeV4l2Device() override;

    // Opening fails with this errno from now on (0: opens again).
    void refuseOpen(int errorNumber);

    // Puts a frame into the oldest buffer the stream has queued and wakes the stream. Returns
    // false when no buffer is queued or the device isn't streaming.
    // `flags` are added to the buffer's (V4L2_BUF_FLAG_ERROR: a damaged frame).
    bool deliver(const QByteArray& bytes, std::uint32_t sequence, qint64 timestampNs,
                 bool monotonic = true, std::uint32_t flags = 0);
    // The next `count` dequeues fail with `errorNumber` (count −1: every one from now on, as a
    // queue stuck in its error state); a waiting stream wakes.
    void failDequeues(int errorNumber, int count);
    // From now on every call fails with ENODEV, as an unplugged device's do; a waiting stream
    // wakes.
    void unplug();

    // Whether it streams; the buffers of the last request, and those queued now.
    struct Buffers {
        bool streaming;
        int requested, queued;
    };
    Buffers buffers() const;

    int open(const QString& path) override;
    void close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* map(int fd, std::size_t length, std::int64_t offset) override;
    void unmap(void* address, std::size_t length) override;

private:
    struct State;
    std::unique_ptr<State> d;
};

// `image` as a JPEG, the way an MJPEG camera sends it.
QByteArray jpegFrame(const QImage& image);

} // namespace reelbox::v4l2
