#include "platform/camera/CameraStream.h"

#include "platform/camera/V4l2Io.h"
#include "platform/virtual/TestCamera.h"

namespace reelbox {

std::unique_ptr<CameraStream> CameraStream::open(const QString& id, const CameraFormat& format,
                                                 double frameRate) {
    if (id == testCameraId())
        return openTestCamera(format);
    if (!id.startsWith(QLatin1Char('/')))
        throw CameraError(CameraError::Kind::notFound,
                          QStringLiteral("There is no camera called “%1”.").arg(id));
    return v4l2::openCamera(id, format, frameRate, v4l2::systemIo());
}

} // namespace reelbox
