#pragma once

#include <QString>
#include <optional>

namespace reelbox::ui {

// A slider's readout by its unit: "%" whole percent of a fraction (0.4 → "40%"), "dB" signed
// with one decimal ("+1.5"), "Hz" in thousands with one decimal from 1000 up ("1.2k") and
// whole below ("800"), "ms" signed whole milliseconds of seconds ("-40 ms"), else two decimals.
QString sliderReadout(double value, const QString& unit);

// The pan knob's label: "C" when the pan rounds to 0 percent, else "L" or "R" and the percent.
QString panLabel(double pan);

// The master volume's caption while normalize is on and the last mix reports its gain:
// "Boosted +6.0 dB", with " (the most it will boost)" from 18 dB up; empty otherwise.
QString boostedCaption(bool normalize, std::optional<double> gainDB);

// A rack's help: its title, with " off" while it is switched off.
QString rackHelp(const QString& title, bool switchedOff);

// A track's volume slider help, with the volume in whole dB.
QString trackVolumeHelp(double volumeDB);

// The track's "Effects" help; overdub tracks also have their timing there.
QString effectsHelp(bool overdubTrack);

// The picture's output size as two whole numbers: "1920 × 1080"; empty before there is one.
QString outputSizeText(double width, double height);

} // namespace reelbox::ui
