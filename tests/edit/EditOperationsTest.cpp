#include "edit/EditOperations.h"
#include "EditFixtures.h"
#include "edit/SelectionOperations.h"

#include <gtest/gtest.h>

using namespace reelbox;

namespace {
struct EditOperationsTest : ::testing::Test {
    test::EditFixture f;
    EditingState& state = f.state;
    const EditState& edit() const { return state.info.edit; }

    // Applies an outcome as the editor model does; returns its action name ("" for none).
    QString apply(const EditOutcome& outcome) {
        state = outcome.state;
        return outcome.actionName.value_or(QString());
    }
};
} // namespace

// Without a selection or with a ruler one, every lane is split.
TEST_F(EditOperationsTest, SplitOfTheTimelineKeepsAwayFromTheEndsAndOtherSplits) {
    for (double t : {0.04, 0.05, 9.95, 9.96}) {
        state.playhead = t;
        const EditOutcome outcome = splitAtPlayhead(state);
        EXPECT_FALSE(outcome.actionName) << t;
        EXPECT_EQ(outcome.state, state) << t;
    }
    state.playhead = 6;
    EXPECT_EQ(apply(splitAtPlayhead(state)), actions::split);
    state.playhead = 6.03;
    EXPECT_FALSE(splitAtPlayhead(state).actionName);
    state.playhead = 3;
    state.selection = Selection::ofTimeline({0, 6});
    EXPECT_EQ(apply(splitAtPlayhead(state)), actions::split);
    EXPECT_EQ(edit().splits, (std::vector<double>{3, 6}));
    EXPECT_TRUE(edit().laneSplits.empty());
    EXPECT_EQ(state.selection, std::nullopt);
}

// Except lanes with a split nearby; the right parts are selected.
TEST_F(EditOperationsTest, SplitOfSelectedPartsSplitsTheirLanes) {
    state.playhead = 4;
    state.selection = Selection::ofParts({{f.audio1(), {0, 10}}});
    EXPECT_EQ(apply(splitAtPlayhead(state)), actions::split);
    EXPECT_TRUE(edit().splits.empty());
    EXPECT_EQ(edit().segments(std::nullopt, state.sourceDuration), (SpanList{{0, 10}}));
    EXPECT_EQ(state.selection, Selection::ofParts({{f.audio1(), {4, 10}}}));

    state.playhead = 4.03;
    state.selection = Selection::ofParts({{f.audio1(), {0, 4}}, {f.audio2(), {0, 10}}});
    EXPECT_EQ(apply(splitAtPlayhead(state)), actions::split);
    EXPECT_EQ(edit().laneSplits.at(f.audio1().key()), std::vector<double>{4});
    EXPECT_EQ(edit().laneSplits.at(f.audio2().key()), std::vector<double>{4.03});
    EXPECT_EQ(state.selection,
              Selection::ofParts({{f.audio1(), {4, 10}}, {f.audio2(), {4.03, 10}}}));
    // When every selected lane is skipped, nothing at all happens.
    const EditOutcome again = splitAtPlayhead(state);
    EXPECT_FALSE(again.actionName);
    EXPECT_EQ(again.state, state);
}

TEST_F(EditOperationsTest, RemovingARulerPartCutsItOnceAndRestoreBringsItBack) {
    EXPECT_FALSE(removeSelected(state).actionName); // nothing selected
    EXPECT_FALSE(restoreSelected(state).actionName);
    state.info.edit.splits = {2, 4, 6};
    state.info.edit.cuts = {{6, 8}};
    state.selection = Selection::ofTimeline({4, 6});
    EXPECT_EQ(apply(removeSelected(state)), actions::deletePart);
    EXPECT_EQ(edit().cuts, (SpanList{{4, 8}})); // merged with the touching cut
    EXPECT_EQ(state.selection, Selection::ofTimeline({4, 6}));
    EXPECT_FALSE(removeSelected(state).actionName); // already removed

    EXPECT_EQ(apply(restoreSelected(state)), actions::restorePart);
    EXPECT_EQ(edit().cuts, (SpanList{{6, 8}}));
    EXPECT_FALSE(restoreSelected(state).actionName); // not removed any more

    // Reset clears the edits and the selection.
    EXPECT_EQ(apply(resetEdits(state)), actions::resetEdits);
    EXPECT_EQ(edit(), EditState());
    EXPECT_EQ(state.selection, std::nullopt);
}

TEST_F(EditOperationsTest, RestoringARulerPartMovesInAndOutOutward) {
    state.info.edit.inPoint = 3;
    state.info.edit.outPoint = 8;
    state.selection = Selection::ofTimeline({0, 4});
    EXPECT_EQ(apply(restoreSelected(state)), actions::restorePart);
    EXPECT_EQ(edit().inPoint, 0);
    EXPECT_EQ(edit().outPoint, 8);
    state.selection = Selection::ofTimeline({7, 10});
    EXPECT_EQ(apply(restoreSelected(state)), actions::restorePart);
    EXPECT_EQ(edit().outPoint, 10);
}

TEST_F(EditOperationsTest, HiddenPartsMergeAndRestoreSeparately) {
    state.info.edit.laneSplits[f.audio1().key()] = {2, 4};
    state.selection = Selection::ofParts({{f.audio1(), {0, 2}}});
    EXPECT_EQ(apply(removeSelected(state)), actions::deletePart);
    state.selection = Selection::ofParts({{f.audio1(), {2, 4}}});
    EXPECT_EQ(apply(removeSelected(state)), actions::deletePart);
    EXPECT_EQ(edit().hidden.at(f.audio1().key()), (SpanList{{0, 4}}));
    EXPECT_TRUE(edit().cuts.empty());

    EXPECT_EQ(apply(restoreSelected(state)), actions::restorePart);
    EXPECT_EQ(edit().hidden.at(f.audio1().key()), (SpanList{{0, 2}}));
    state.selection = Selection::ofParts({{f.audio1(), {0, 2}}});
    EXPECT_EQ(apply(restoreSelected(state)), actions::restorePart);
    EXPECT_FALSE(edit().hidden.contains(f.audio1().key())); // empty lists are removed
}

TEST_F(EditOperationsTest, TrimsAtThePlayheadAndDraggedEdges) {
    state.playhead = 9.995;
    EXPECT_EQ(apply(setOutPoint(state)), actions::trimEnd);
    EXPECT_EQ(edit().outPoint, std::nullopt); // within 0.01 s of the end
    state.playhead = 6;
    apply(setOutPoint(state));
    EXPECT_EQ(edit().outPoint, 6);

    state.playhead = 7;
    EXPECT_EQ(apply(setInPoint(state)), actions::trimStart);
    EXPECT_DOUBLE_EQ(edit().inPoint, 5.9); // 0.1 s before the out point
    state.playhead = 1;
    apply(setOutPoint(state));
    EXPECT_DOUBLE_EQ(*edit().outPoint, 6.0); // at least 0.1 s after the in point

    // Both commit even when nothing changes.
    EXPECT_EQ(setOutPoint(state).actionName, actions::trimEnd);
    state.playhead = -2;
    apply(setInPoint(state));
    EXPECT_EQ(edit().inPoint, -2); // clamped only by the played-span rule
    EXPECT_EQ(playedSpans(state), (SpanList{{0, 6}}));

    // Dragged edges keep 0.1 s apart too; an out edge near the end is no out point.
    EditState e;
    e.outPoint = 5;
    EXPECT_DOUBLE_EQ(dragInEdge(e, 4.9, 10).inPoint, 4.8);
    EXPECT_DOUBLE_EQ(dragInEdge(e, 1, 10).inPoint, 1);
    e.inPoint = 3;
    EXPECT_DOUBLE_EQ(*dragOutEdge(e, 3.1, 10).outPoint, 3.2);
    EXPECT_EQ(dragOutEdge(e, 9.995, 10).outPoint, std::nullopt);
    EXPECT_EQ(dragOutEdge(e, 7, 10).outPoint, 7);
}

// Cut parts don't play; hidden parts of a lane still do.
TEST_F(EditOperationsTest, PlayedSpansAndEditedDuration) {
    state.info.edit.cuts = {{2, 3}};
    state.info.edit.hidden[f.audio1().key()] = {{5, 6}};
    EXPECT_EQ(playedSpans(state), (SpanList{{0, 2}, {3, 10}}));
    EXPECT_DOUBLE_EQ(editedDuration(state), 9);
    EXPECT_DOUBLE_EQ(timeMap(state).outputTime(2.5), 2);
}
