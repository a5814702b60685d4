#include "edit/EditOperations.h"

#include "edit/SelectionOperations.h"

#include <algorithm>
#include <cmath>

namespace reelbox {

namespace {

constexpr double splitMargin = 0.05;       // from the ends and from another split
constexpr double rightOfSplit = 0.001;     // picks the part to the right of a new split
constexpr double keyboardTrimGap = 0.1;    // between in and out set at the playhead
constexpr double dragTrimGap = 0.2;        // between in and out while an edge is dragged
constexpr double outPointEndMargin = 0.01; // an out point this close to the end is dropped

bool nearAny(const std::vector<double>& points, double t) {
    return std::any_of(points.begin(), points.end(),
                       [t](double p) { return std::fabs(p - t) < splitMargin; });
}

EditOutcome committed(EditingState state, const QString& actionName) {
    return {std::move(state), actionName};
}

EditOutcome unchanged(const EditingState& state) {
    return {state, std::nullopt};
}

std::optional<double> outPointFor(double v, double duration) {
    if (v < duration - outPointEndMargin)
        return v;
    return std::nullopt;
}

} // namespace

EditOutcome splitAtPlayhead(const EditingState& state) {
    const double t = state.playhead;
    if (t <= splitMargin || t >= state.sourceDuration - splitMargin)
        return unchanged(state);

    EditingState next = state;
    EditState& edit = next.info.edit;
    const bool laneParts = state.selection && !state.selection->isTimeline();
    if (!laneParts) {
        if (!nearAny(edit.splits, t)) {
            edit.splits.push_back(t);
            std::sort(edit.splits.begin(), edit.splits.end());
        }
    } else {
        for (const auto& [lane, part] : state.selection->parts) {
            if (nearAny(edit.splitsIn(lane), t))
                continue;
            std::vector<double>& own = edit.laneSplits[lane.key()];
            own.push_back(t);
            std::sort(own.begin(), own.end());
        }
    }
    if (edit == state.edit())
        return unchanged(state);

    if (!laneParts) {
        next.selection.reset();
    } else {
        std::map<Lane, TimeSpan> parts;
        for (const auto& [lane, part] : state.selection->parts)
            if (auto right = segmentAt(next, t + rightOfSplit, lane))
                parts[lane] = *right;
        next.selection = Selection::ofParts(std::move(parts));
        if (next.selection->parts.empty())
            next.selection.reset();
    }
    return committed(std::move(next), actions::split);
}

EditOutcome removeSelected(const EditingState& state) {
    if (!state.selection || selectionIsRemoved(state.edit(), state.selection))
        return unchanged(state);
    EditingState next = state;
    EditState& edit = next.info.edit;
    if (state.selection->isTimeline()) {
        SpanList cuts = edit.cuts;
        cuts.push_back(state.selection->span);
        edit.cuts = EditState::merged(cuts);
    } else {
        for (const auto& [lane, part] : state.selection->parts) {
            SpanList& hidden = edit.hidden[lane.key()];
            hidden.push_back(part);
            hidden = EditState::merged(hidden);
        }
    }
    return committed(std::move(next), actions::deletePart);
}

EditOutcome restoreSelected(const EditingState& state) {
    if (!state.selection || !selectionIsRemoved(state.edit(), state.selection))
        return unchanged(state);
    EditingState next = state;
    EditState& edit = next.info.edit;
    if (state.selection->isTimeline()) {
        const TimeSpan& s = state.selection->span;
        edit.cuts = EditState::subtract(s, edit.cuts);
        edit.inPoint = std::min(edit.inPoint, s.start);
        if (edit.outPoint && s.end > *edit.outPoint)
            edit.outPoint = s.end;
    } else {
        for (const auto& [lane, part] : state.selection->parts) {
            SpanList rest = EditState::subtract(part, edit.hiddenParts(lane));
            if (rest.empty())
                edit.hidden.erase(lane.key());
            else
                edit.hidden[lane.key()] = std::move(rest);
        }
    }
    return committed(std::move(next), actions::restorePart);
}

EditOutcome setInPoint(const EditingState& state) {
    EditingState next = state;
    EditState& edit = next.info.edit;
    const double end = edit.outPoint.value_or(state.sourceDuration);
    edit.inPoint = std::min(state.playhead, end - keyboardTrimGap);
    return committed(std::move(next), actions::trimStart);
}

EditOutcome setOutPoint(const EditingState& state) {
    EditingState next = state;
    EditState& edit = next.info.edit;
    const double v = std::max(edit.inPoint + keyboardTrimGap, state.playhead);
    edit.outPoint = outPointFor(v, state.sourceDuration);
    return committed(std::move(next), actions::trimEnd);
}

EditOutcome resetEdits(const EditingState& state) {
    EditingState next = state;
    next.selection.reset();
    next.info.edit = EditState();
    return committed(std::move(next), actions::resetEdits);
}

EditState dragInEdge(const EditState& edit, double t, double duration) {
    EditState next = edit;
    const double end = edit.outPoint.value_or(duration);
    next.inPoint = std::min(t, end - dragTrimGap);
    return next;
}

EditState dragOutEdge(const EditState& edit, double t, double duration) {
    EditState next = edit;
    next.outPoint = outPointFor(std::max(edit.inPoint + dragTrimGap, t), duration);
    return next;
}

SpanList playedSpans(const EditingState& state) {
    return state.edit().keptSpans(state.sourceDuration);
}

TimeMap timeMap(const EditingState& state) {
    return TimeMap{playedSpans(state)};
}

double editedDuration(const EditingState& state) {
    return timeMap(state).totalLength();
}

} // namespace reelbox
