#pragma once

#include "model/TakeInfo.h"

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace reelbox::ui {

// Whole minutes and seconds, rounded: 59.5 → "1:00", 4500 → "75:00" (no hours).
QString formatDuration(double seconds);

// A time on the editor's clock, truncated: precise "%d:%04.1f" (61.25 → "1:01.2"), else
// "%d:%02d" (61.9 → "1:01"). Negative times count as 0.
QString formatTime(double seconds, bool precise);

// A creation date as the take list shows it, relative to `now` in the local time zone:
// "Today, 14:21", "Yesterday, 09:05", the weekday within the last week ("Monday, 08:00"),
// else the date in the locale's short format.
QString relativeDate(const QDateTime& when, const QDateTime& now, const QLocale& locale = {});

// The length that plays: the kept spans of the edit over the take's time line.
double keptDuration(const TakeInfo& info);

// Whether the edit differs from the untouched one.
bool isEdited(const EditState& edit);

} // namespace reelbox::ui
