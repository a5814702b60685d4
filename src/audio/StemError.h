#pragma once

#include "platform/Error.h"

namespace reelbox {

// The errors of stem extraction, with the messages the editor shows.
class StemError : public Error {
public:
    enum class Kind { readFailed, noAudio };

    static StemError readFailed(const QString& text) {
        return StemError(Kind::readFailed, QStringLiteral("Couldn't read the audio: ") + text);
    }
    static StemError noAudio() {
        return StemError(Kind::noAudio, QStringLiteral("This recording has no audio."));
    }

    Kind kind() const { return m_kind; }

private:
    StemError(Kind kind, const QString& message) : Error(message), m_kind(kind) {}
    Kind m_kind;
};

} // namespace reelbox
