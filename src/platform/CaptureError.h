#pragma once

#include "platform/Error.h"

namespace reelbox {

// Failures of recording and of export, with the messages the screens show.
class CaptureError : public Error {
public:
    enum class Kind { cannotAddInput, writerFailed, notRecording };

    static CaptureError cannotAddInput(const QString& name) {
        return {Kind::cannotAddInput,
                QStringLiteral("Can't use ") + name + QStringLiteral(" right now.")};
    }
    static CaptureError writerFailed(const QString& message) {
        return {Kind::writerFailed, QStringLiteral("Recording failed: ") + message};
    }
    static CaptureError notRecording() {
        return {Kind::notRecording, QStringLiteral("Nothing is being recorded.")};
    }

    Kind kind() const { return m_kind; }

private:
    CaptureError(Kind kind, const QString& message) : Error(message), m_kind(kind) {}
    Kind m_kind;
};

} // namespace reelbox
