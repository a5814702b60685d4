#pragma once

#include "model/EditState.h"
#include "ui/TimeAxis.h"

#include <QPointF>

namespace reelbox::ui {

// What a drag on the lanes area does, chosen where it starts.
enum class DragKind { scrub, trimStart, trimEnd };

inline constexpr double trimGrabDistance = 8; // points either side of an edge
inline constexpr double clickDistance = 3;    // a scrub moving less is a click

// A trim of the in or out edge when the drag starts below the ruler within 8 points of it (the
// in edge when it is no farther than the out edge); otherwise, and always on the ruler, a scrub.
DragKind dragKindAt(const QPointF& start, const EditState& edit, const TimeAxis& axis);

// The edit a trim drag shows with the pointer at t: `start` is the edit when the drag began.
EditState trimPreview(DragKind kind, const EditState& start, double t, double duration);

// Whether a scrub that moved `dx` points sideways is a click.
inline bool isClick(double dx) {
    return dx < clickDistance && dx > -clickDistance;
}

} // namespace reelbox::ui
