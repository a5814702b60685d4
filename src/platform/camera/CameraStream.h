#pragma once

#include "platform/camera/CameraDevices.h"
#include "platform/camera/CameraError.h"
#include "platform/media/YuvPicture.h"

#include <QSize>
#include <QtGlobal>
#include <functional>
#include <memory>

namespace reelbox {

// One picture from a camera. The picture's pixels belong to the frame: the stream does not
// reuse them while any copy of the picture is alive.
struct CameraFrame {
    YuvPicture picture;    // 4:2:0, limited range
    qint64 hostTimeNs = 0; // when it was taken, on std::chrono::steady_clock
    qint64 sequence = 0;   // the driver's frame counter; a gap means frames were dropped
};

// A running camera: a capture thread of its own hands every frame to the frame handler.
// Made by open(); start() starts the thread, stop() (or destruction) ends it promptly.
class CameraStream {
public:
    using FrameHandler = std::function<void(const CameraFrame&)>;
    // Called at most once, on the capture thread, when the stream ends by itself (device
    // unplugged, driver failure). No frame follows it.
    using ErrorHandler = std::function<void(const CameraError&)>;

    // Opens camera `id` (a CameraInfo id, or a /dev/videoN path) in `format`'s pixel format and
    // size at `frameRate` frames per second. Throws CameraError.
    static std::unique_ptr<CameraStream> open(const QString& id, const CameraFormat& format,
                                              double frameRate);

    virtual ~CameraStream() = default;
    CameraStream(const CameraStream&) = delete;
    CameraStream& operator=(const CameraStream&) = delete;

    // Handlers run on the capture thread and should return quickly. Throws CameraError when
    // the device refuses to start.
    virtual void start(FrameHandler onFrame, ErrorHandler onError = {}) = 0;
    // Idempotent; returns once the capture thread has ended. Not from a handler.
    virtual void stop() = 0;

    virtual QString name() const = 0;
    virtual QSize size() const = 0;       // as the device set it
    virtual double frameRate() const = 0; // as the device set it
    virtual qint64 deliveredFrames() const = 0;
    virtual qint64 droppedFrames() const = 0; // gaps in the sequence numbers

protected:
    CameraStream() = default;
};

} // namespace reelbox
