#include "CliJson.h"

#include <charconv>
#include <cmath>

namespace reelbox::cli {

QString jsonString(const QString& text) {
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"':
            out += QStringLiteral("\\\"");
            break;
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QChar(u'0'));
            else
                out += c;
        }
    }
    return out + u'"';
}

QString jsonNumber(double value) {
    if (!std::isfinite(value))
        return QStringLiteral("null");
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return QString::fromLatin1(buffer, int(result.ptr - buffer));
}

QString jsonArray(const QStringList& elements) {
    return u'[' + elements.join(QStringLiteral(", ")) + u']';
}

QString jsonObject(const QList<std::pair<QString, QString>>& members) {
    QStringList parts;
    for (const auto& [key, value] : members)
        parts << jsonString(key) + QStringLiteral(": ") + value;
    return u'{' + parts.join(QStringLiteral(", ")) + u'}';
}

} // namespace reelbox::cli
