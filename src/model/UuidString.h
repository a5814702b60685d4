#pragma once

#include <QString>
#include <QUuid>
#include <optional>

namespace reelbox {

// The canonical 36-character upper-case form used in take.json and lane keys.
inline QString uuidString(const QUuid& id) {
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// Parses exactly the 8-4-4-4-12 hexadecimal form (either case); anything else is rejected.
std::optional<QUuid> parseUuid(const QString& text);

} // namespace reelbox
