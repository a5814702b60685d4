#include "platform/camera/CameraError.h"

#include <cerrno>
#include <cstring>

namespace reelbox {

CameraError CameraError::fromErrno(int errorNumber, const QString& device, const QString& what) {
    const QString system = QString::fromLocal8Bit(std::strerror(errorNumber));
    switch (errorNumber) {
    case EACCES:
    case EPERM:
        return {Kind::permissionDenied,
                QStringLiteral("You may not use %1 (%2).").arg(device, system)};
    case ENOENT:
    case ENXIO:
        return {Kind::notFound, QStringLiteral("%1 isn't connected (%2).").arg(device, system)};
    case ENODEV:
        return {Kind::disconnected,
                QStringLiteral("%1 was disconnected (%2).").arg(device, system)};
    case EBUSY:
        return {Kind::busy,
                QStringLiteral("%1 is in use by another application (%2).").arg(device, system)};
    default:
        return {Kind::failed, QStringLiteral("Can't %1 %2: %3").arg(what, device, system)};
    }
}

} // namespace reelbox
