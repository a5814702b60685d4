#include "ui/PreviewGeometry.h"

#include <algorithm>

namespace reelbox::ui {

ViewFit fitInto(const SizeD& content, const SizeD& view) {
    if (content.width <= 0 || content.height <= 0 || view.width <= 0 || view.height <= 0)
        return {};
    const double scale = std::min(view.width / content.width, view.height / content.height);
    return {scale, (view.width - content.width * scale) / 2,
            (view.height - content.height * scale) / 2};
}

ExportSettings::Position draggedPosition(const ExportSettings::Position& start, const RectD& tile,
                                         const RectD& crop, const SizeD& sourceSize,
                                         double viewScale, double tx, double ty, bool mirror) {
    if (viewScale <= 0 || tile.width <= 0)
        return start;
    const double k = crop.width / (viewScale * tile.width);
    const double dx = k * tx * (mirror ? -1 : 1);
    const double dy = k * ty;
    const double slackX = sourceSize.width - crop.width;
    const double slackY = sourceSize.height - crop.height;
    ExportSettings::Position moved = start;
    if (slackX > 1)
        moved.x = std::clamp(start.x - 2 * dx / slackX, -1.0, 1.0);
    if (slackY > 1)
        moved.y = std::clamp(start.y - 2 * dy / slackY, -1.0, 1.0);
    return moved;
}

} // namespace reelbox::ui
