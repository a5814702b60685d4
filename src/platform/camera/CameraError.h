#pragma once

#include "platform/Error.h"

namespace reelbox {

// A camera that can't be opened or that failed while streaming. kind() tells the recorder
// apart a device this user may not open (permissionDenied) from one that is gone or busy.
class CameraError : public Error {
public:
    enum class Kind { notFound, permissionDenied, busy, unsupportedFormat, disconnected, failed };

    CameraError(Kind kind, const QString& message) : Error(message), m_kind(kind) {}

    // The error for a failed system call on the device `device` (its name or path), with the
    // system's text; `what` says what was being done ("open", "start").
    static CameraError fromErrno(int errorNumber, const QString& device, const QString& what);

    Kind kind() const { return m_kind; }
    bool permissionDenied() const { return m_kind == Kind::permissionDenied; }

private:
    Kind m_kind;
};

} // namespace reelbox
