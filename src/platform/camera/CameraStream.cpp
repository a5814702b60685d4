#include "platform/camera/CameraStream.h"

namespace reelbox {

std::unique_ptr<CameraStream> CameraStream::open(const QString& id, const CameraFormat&, double) {
    throw CameraError(CameraError::Kind::failed, QStringLiteral("Can't open %1 yet.").arg(id));
}

} // namespace reelbox
