#include "platform/camera/CameraStream.h"

#include "platform/camera/internal/V4l2CameraStream.h"
#include "platform/virtual/TestCamera.h"

#include <QFileInfo>

namespace reelbox {

std::unique_ptr<CameraStream> CameraStream::open(const QString& id, const CameraFormat& format,
                                                 double frameRate) {
    if (id == testCameraId())
        return openTestCamera(format);
    if (!id.startsWith(QLatin1Char('/')))
        throw CameraError(CameraError::Kind::notFound,
                          QStringLiteral("There is no camera called “%1”.").arg(id));
    return openV4l2Camera(id, format, frameRate);
}

} // namespace reelbox
