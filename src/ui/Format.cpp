#include "ui/Format.h"

#include <cmath>

namespace reelbox::ui {

QString formatDuration(double seconds) {
    const long long total = std::llround(std::max(0.0, seconds));
    return QStringLiteral("%1:%2").arg(total / 60).arg(total % 60, 2, 10, QLatin1Char('0'));
}

QString formatTime(double seconds, bool precise) {
    const double t = std::isfinite(seconds) ? std::max(0.0, seconds) : 0.0;
    const long long minutes = static_cast<long long>(t) / 60;
    const double rest = t - double(minutes) * 60;
    if (precise)
        return QString::asprintf("%lld:%04.1f", minutes, rest);
    return QString::asprintf("%lld:%02d", minutes, int(rest));
}

QString relativeDate(const QDateTime& when, const QDateTime& now, const QLocale& locale) {
    const QDateTime local = when.toLocalTime();
    const qint64 days = local.date().daysTo(now.toLocalTime().date());
    const QString time = locale.toString(local.time(), QStringLiteral("HH:mm"));
    if (days == 0)
        return QStringLiteral("Today, %1").arg(time);
    if (days == 1)
        return QStringLiteral("Yesterday, %1").arg(time);
    if (days > 1 && days < 7)
        return QStringLiteral("%1, %2").arg(locale.dayName(local.date().dayOfWeek()), time);
    return locale.toString(local.date(), QLocale::ShortFormat);
}

double keptDuration(const TakeInfo& info) {
    double total = 0;
    for (const TimeSpan& span : info.edit.keptSpans(info.timelineDuration()))
        total += span.length();
    return total;
}

bool isEdited(const EditState& edit) {
    return edit.inPoint > 0 || edit.outPoint || !edit.splits.empty() || !edit.cuts.empty() ||
           !edit.hidden.empty() || !edit.laneSplits.empty();
}

} // namespace reelbox::ui
