#include "EditFixtures.h"
#include "edit/SelectionOperations.h"

#include <gtest/gtest.h>

using namespace reelbox;

namespace {
struct SelectionTest : ::testing::Test {
    test::EditFixture f;
    EditingState& state = f.state;
    void SetUp() override { state.info.edit.splits = {4, 7}; }
};
} // namespace

TEST_F(SelectionTest, SegmentAtPicksTheLeftPartOnABoundary) {
    EXPECT_EQ(segmentAt(state, 4, std::nullopt), (TimeSpan{0, 4}));
    EXPECT_EQ(segmentAt(state, 4.01, std::nullopt), (TimeSpan{4, 7}));
    EXPECT_EQ(segmentAt(state, 10, std::nullopt), (TimeSpan{7, 10}));
    EXPECT_EQ(segmentAt(state, 11, std::nullopt), std::nullopt);
    state.info.edit.laneSplits[f.audio1().key()] = {5};
    EXPECT_EQ(segmentAt(state, 6, f.audio1()), (TimeSpan{5, 7}));
    EXPECT_EQ(segmentAt(state, 6, f.audio2()), (TimeSpan{4, 7}));
}

TEST_F(SelectionTest, TimelineSelectionTogglesAndReplacesParts) {
    state.selection = Selection::ofParts({{f.audio1(), {0, 4}}});
    state.selection = selectTimeline(state, 5);
    EXPECT_EQ(state.selection, Selection::ofTimeline({4, 7}));
    state.selection = selectTimeline(state, 6);
    EXPECT_EQ(state.selection, std::nullopt);
    const auto before = Selection::ofTimeline({0, 4});
    state.selection = before;
    EXPECT_EQ(selectTimeline(state, 12), before); // no segment there: unchanged
}

TEST_F(SelectionTest, LaneSelectionWithAndWithoutExtendAndTheLanesPart) {
    state.selection = Selection::ofTimeline({4, 7});
    state.selection = selectLane(state, f.audio1(), 1, false);
    EXPECT_EQ(state.selection, Selection::ofParts({{f.audio1(), {0, 4}}}));
    state.selection = selectLane(state, f.audio1(), 2, false);
    EXPECT_EQ(state.selection, std::nullopt);

    state.selection = selectLane(state, f.audio1(), 1, true);
    state.selection = selectLane(state, f.audio2(), 8, true);
    EXPECT_EQ(state.selection, Selection::ofParts({{f.audio1(), {0, 4}}, {f.audio2(), {7, 10}}}));
    // Another part of a selected lane replaces it; the same part removes it.
    state.selection = selectLane(state, f.audio1(), 5, true);
    EXPECT_EQ(state.selection, Selection::ofParts({{f.audio1(), {4, 7}}, {f.audio2(), {7, 10}}}));
    state.selection = selectLane(state, f.audio1(), 5, true);
    state.selection = selectLane(state, f.audio2(), 9, true);
    EXPECT_EQ(state.selection, std::nullopt);

    // Extending from a ruler selection starts from nothing.
    state.selection = Selection::ofTimeline({4, 7});
    EXPECT_EQ(selectLane(state, f.audio2(), 1, true), Selection::ofParts({{f.audio2(), {0, 4}}}));
    // A lane's selected part is its own, and none under a ruler selection.
    EXPECT_EQ(selectedPart(state.selection, f.audio1()), std::nullopt);
    state.selection = Selection::ofParts({{f.audio1(), {0, 4}}});
    EXPECT_EQ(selectedPart(state.selection, f.audio1()), (TimeSpan{0, 4}));
    EXPECT_EQ(selectedPart(state.selection, f.audio2()), std::nullopt);
}

TEST_F(SelectionTest, GroupSelectionTakesThePartsUnderThePlayhead) {
    state.playhead = 5;
    state.selection = selectGroup(state, Group::take(), false);
    EXPECT_EQ(state.selection,
              Selection::ofParts(
                  {{Lane::mainVideo(), {4, 7}}, {f.audio1(), {4, 7}}, {f.audio2(), {4, 7}}}));
    state.selection = selectGroup(state, Group::overdub(f.overdubId), true);
    EXPECT_EQ(state.selection->parts.size(), 5u);
    state.selection = selectGroup(state, Group::overdub(f.overdubId), false);
    EXPECT_EQ(state.selection->parts.size(), 2u);

    state.playhead = 20; // nothing under the playhead
    EXPECT_EQ(selectGroup(state, Group::take(), false), std::nullopt);
}

TEST_F(SelectionTest, RemovedMeansCutForTheRulerAndHiddenForParts) {
    EditState& edit = state.info.edit;
    EXPECT_FALSE(selectionIsRemoved(edit, std::nullopt));
    edit.cuts = {{4, 7}};
    EXPECT_TRUE(selectionIsRemoved(edit, Selection::ofTimeline({4, 7})));
    // Cuts don't count for lane parts; hidden spans do, on their own lane only.
    EXPECT_FALSE(selectionIsRemoved(edit, Selection::ofParts({{f.audio1(), {4, 7}}})));
    edit.hidden[f.audio1().key()] = {{4, 7}};
    EXPECT_TRUE(selectionIsRemoved(edit, Selection::ofParts({{f.audio1(), {4, 7}}})));
    EXPECT_FALSE(
        selectionIsRemoved(edit, Selection::ofParts({{f.audio1(), {4, 7}}, {f.audio2(), {4, 7}}})));
}
