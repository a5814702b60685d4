#pragma once

#include <QString>
#include <QStringList>

namespace reelbox::cli {

// Small helpers for the command line's one-line JSON output.
QString jsonString(const QString& text);
QString jsonNumber(double value);
QString jsonArray(const QStringList& elements);
// Keys are written in the order given.
QString jsonObject(const QList<std::pair<QString, QString>>& members);

} // namespace reelbox::cli
