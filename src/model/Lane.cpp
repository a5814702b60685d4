#include "model/Lane.h"

#include "model/UuidString.h"

namespace reelbox {

QString Lane::key() const {
    switch (kind) {
    case Kind::mainVideo:
        return QStringLiteral("video.main");
    case Kind::overdubVideo:
        return QStringLiteral("video.") + uuidString(id);
    case Kind::audio:
        return QStringLiteral("audio.") + uuidString(id);
    }
    return {};
}

} // namespace reelbox
