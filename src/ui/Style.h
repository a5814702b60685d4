#pragma once

class QApplication;

namespace reelbox::ui {

// The Fusion style with Reelbox's dark palette.
void applyStyle(QApplication& app);

// Colours the screens share.
namespace colors {
inline constexpr unsigned recordRed = 0xff3b30;
inline constexpr unsigned secondaryText = 0x9a9aa0;
inline constexpr unsigned barBackground = 0x232326;
inline constexpr unsigned cardBackground = 0x2c2c30;
} // namespace colors

} // namespace reelbox::ui
