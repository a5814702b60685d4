#pragma once

#include "ui/TimeAxis.h"
#include "ui/TimelineLayout.h"

#include <QColor>

class QPainter;
class QPalette;

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

// Overdub groups are drawn in purple; the take's group in the accent colour.
inline constexpr unsigned overdubPurple = 0xaf52de;
QColor groupColor(const Group& group, const QPalette& palette);

// Draws everything of the lanes area but the playhead: cards, the ruler, filmstrips,
// waveforms, span bars, hidden and removed parts, the trim frame, split markers and the
// selected part, over `axis.width` × `layout.height` points.
void drawTimelineLayer(QPainter& painter, const TakeEditorModel& model,
                       const TimelineLayout& layout, const TimeAxis& axis, const QPalette& palette);

} // namespace reelbox::ui
