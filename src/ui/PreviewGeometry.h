#pragma once

#include "compose/Geometry.h"
#include "model/ExportSettings.h"

namespace reelbox::ui {

// Where a picture of `content` size lands when fitted into `view`, centred, aspect kept.
struct ViewFit {
    double scale = 0; // view points per picture pixel
    double x = 0;     // the picture's top left in the view
    double y = 0;
    RectD map(const RectD& r) const {
        return {x + r.x * scale, y + r.y * scale, r.width * scale, r.height * scale};
    }
};
ViewFit fitInto(const SizeD& content, const SizeD& view);

// A video's position after dragging its tile by (tx, ty) view points from `start`.
// k = crop width ÷ (view scale × tile width) source pixels per point; under mirror the
// horizontal drag turns round. An axis with more than one pixel of slack (source − crop) moves
// by 2·k·t ÷ slack, clamped to −1 … 1, so a drag over the whole slack crosses the full range;
// an axis without slack stays where it was.
ExportSettings::Position draggedPosition(const ExportSettings::Position& start, const RectD& tile,
                                         const RectD& crop, const SizeD& sourceSize,
                                         double viewScale, double tx, double ty, bool mirror);

} // namespace reelbox::ui
