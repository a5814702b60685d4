#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

namespace reelbox {

// ISO 8601 internet date-time with whole seconds, written in UTC: 2024-03-01T17:05:09Z.
QString formatJsonDate(const QDateTime& date);
// Accepts the same form with "Z" or a numeric offset; anything else gives nothing.
std::optional<QDateTime> parseJsonDate(const QString& text);

} // namespace reelbox
