#pragma once

#include "edit/EditingState.h"
#include "model/TimeMap.h"

#include <QString>

namespace reelbox {

// Undo action names of the committed edits.
namespace actions {
inline const QString split = QStringLiteral("Split");
inline const QString deletePart = QStringLiteral("Delete Part");
inline const QString restorePart = QStringLiteral("Restore Part");
inline const QString trimStart = QStringLiteral("Trim Start");
inline const QString trimEnd = QStringLiteral("Trim End");
inline const QString resetEdits = QStringLiteral("Reset Edits");
} // namespace actions

// Splits the selected lanes (or, with no or a ruler selection, every lane) at the playhead.
EditOutcome splitAtPlayhead(const EditingState& state);
// Cuts the selected ruler part from every lane, or hides the selected parts in their lanes.
EditOutcome removeSelected(const EditingState& state);
// Brings back the selected removed part.
EditOutcome restoreSelected(const EditingState& state);
// Trims the start / end at the playhead.
EditOutcome setInPoint(const EditingState& state);
EditOutcome setOutPoint(const EditingState& state);
// Clears the selection and every edit.
EditOutcome resetEdits(const EditingState& state);

// The edit while the in / out edge is dragged to t (committed on release).
EditState dragInEdge(const EditState& edit, double t, double duration);
EditState dragOutEdge(const EditState& edit, double t, double duration);

// The spans that play, and their total length.
SpanList playedSpans(const EditingState& state);
TimeMap timeMap(const EditingState& state);
double editedDuration(const EditingState& state);

} // namespace reelbox
