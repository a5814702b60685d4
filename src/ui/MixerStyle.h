#pragma once

#include <QColor>
#include <QFont>

class QWidget;

namespace reelbox::ui {

// Colours of the mixer controls.
namespace mixerColors {
inline constexpr unsigned mute = 0xff9f0a;    // orange
inline constexpr unsigned solo = 0xffd60a;    // yellow
inline constexpr unsigned overdub = 0xbf5af2; // purple: overdub tracks
inline constexpr unsigned rackLit = 0x34343a;
inline constexpr unsigned rackDark = 0x242427;
} // namespace mixerColors

// The accent colour: the palette's highlight.
QColor accentColor(const QWidget* widget);

enum class TextStyle { headline, subheadline, callout, caption, monospacedCaption };

// `base` restyled: headline bold, subheadline semibold and smaller, callout a little smaller,
// caption smaller still; the monospaced caption has digits of one width.
QFont mixerFont(TextStyle style, const QFont& base);

// Draws `label`'s text in the secondary colour.
void setSecondary(QWidget* label);

} // namespace reelbox::ui
