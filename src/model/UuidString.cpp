#include "model/UuidString.h"

namespace reelbox {

std::optional<QUuid> parseUuid(const QString& text) {
    if (text.size() != 36)
        return std::nullopt;
    for (int i = 0; i < 36; ++i) {
        const QChar c = text[i];
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? c != u'-' : !isxdigit(c.toLatin1()) || c.unicode() > 0x7f)
            return std::nullopt;
    }
    return QUuid::fromString(text);
}

} // namespace reelbox
