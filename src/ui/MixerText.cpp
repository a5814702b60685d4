#include "ui/MixerText.h"

#include <cmath>

namespace reelbox::ui {

QString sliderReadout(double value, const QString& unit) {
    if (unit == QLatin1String("%"))
        return QString::asprintf("%ld%%", std::lround(value * 100));
    if (unit == QLatin1String("dB"))
        return QString::asprintf("%+.1f", value);
    if (unit == QLatin1String("Hz")) {
        if (value >= 1000)
            return QString::asprintf("%.1fk", value / 1000);
        return QString::asprintf("%ld", std::lround(value));
    }
    if (unit == QLatin1String("ms"))
        return QString::asprintf("%+ld ms", std::lround(value * 1000));
    return QString::asprintf("%.2f", value);
}

QString panLabel(double pan) {
    const long percent = std::lround(pan * 100);
    if (percent == 0)
        return QStringLiteral("C");
    return QString::asprintf("%c%ld", percent < 0 ? 'L' : 'R', std::labs(percent));
}

QString boostedCaption(bool normalize, std::optional<double> gainDB) {
    if (!normalize || !gainDB)
        return {};
    return QString::asprintf("Boosted %+.1f dB", *gainDB) +
           (*gainDB >= 18 ? QStringLiteral(" (the most it will boost)") : QString());
}

QString rackHelp(const QString& title, bool switchedOff) {
    return switchedOff ? title + QStringLiteral(" off") : title;
}

QString trackVolumeHelp(double volumeDB) {
    return QString::asprintf("Volume %+.0f dB (right-click to reset)", volumeDB);
}

QString effectsHelp(bool overdubTrack) {
    return QStringLiteral("EQ, compressor, reverb") +
           (overdubTrack ? QStringLiteral(" and timing") : QString());
}

QString outputSizeText(double width, double height) {
    if (width <= 0 || height <= 0)
        return {};
    return QStringLiteral("%1 × %2").arg(qRound64(width)).arg(qRound64(height));
}

} // namespace reelbox::ui
