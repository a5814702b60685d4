#include "model/JsonDate.h"

#include <QRegularExpression>

namespace reelbox {

QString formatJsonDate(const QDateTime& date) {
    return date.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

std::optional<QDateTime> parseJsonDate(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(Z|z|([+-])(\d{2}):?(\d{2}))$)"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offsetSeconds = 0;
    if (!m.captured(8).isEmpty()) {
        const int hours = m.captured(9).toInt();
        const int minutes = m.captured(10).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offsetSeconds = (hours * 3600 + minutes * 60) * (m.captured(8) == u"-" ? -1 : 1);
    }
    const QDateTime result = QDateTime(date, time, Qt::UTC).addSecs(-offsetSeconds);
    // The writer needs four digits for the year, so a date it couldn't write back is refused.
    if (result.date().year() < 1 || result.date().year() > 9999)
        return std::nullopt;
    return result;
}

} // namespace reelbox
