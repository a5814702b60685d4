#include "ui/TimelineDrag.h"

#include "edit/EditOperations.h"
#include "ui/TimelineLayout.h"

#include <cmath>

namespace reelbox::ui {

DragKind dragKindAt(const QPointF& start, const EditState& edit, const TimeAxis& axis) {
    if (start.y() <= TimelineLayout::rulerHeight)
        return DragKind::scrub;
    const double inDistance = std::abs(start.x() - axis.x(edit.inPoint));
    const double outDistance = std::abs(start.x() - axis.x(edit.outPoint.value_or(axis.duration)));
    if (inDistance < trimGrabDistance && inDistance <= outDistance)
        return DragKind::trimStart;
    if (outDistance < trimGrabDistance)
        return DragKind::trimEnd;
    return DragKind::scrub;
}

EditState trimPreview(DragKind kind, const EditState& start, double t, double duration) {
    switch (kind) {
    case DragKind::trimStart:
        return dragInEdge(start, t, duration);
    case DragKind::trimEnd:
        return dragOutEdge(start, t, duration);
    case DragKind::scrub:
        break;
    }
    return start;
}

} // namespace reelbox::ui
