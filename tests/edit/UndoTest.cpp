#include "EditFixtures.h"
#include "edit/EditCommitter.h"
#include "edit/EditOperations.h"
#include "edit/UndoStackAdapter.h"

#include <QUndoStack>
#include <gtest/gtest.h>

using namespace reelbox;

namespace {

// Stands in for the take editor model: stores the committed edit and counts saves.
struct Owner {
    EditingState state;
    int saves = 0;
    EditCommitter committer{[this](const EditState& edit) {
        state.info.edit = edit;
        ++saves;
    }};

    void run(EditOutcome outcome, UndoRegistry* undo) {
        const EditState previous = state.info.edit;
        const auto selection = outcome.state.selection;
        if (outcome.actionName)
            committer.commit(outcome.state.info.edit, previous, *outcome.actionName, undo);
        state.selection = selection;
    }
};

struct UndoTest : ::testing::Test {
    UndoTest() { owner.state = test::EditFixture().state; }
    // Makes an edit through the registry and returns the state it committed.
    EditState run(EditOutcome outcome) {
        owner.run(std::move(outcome), &undo);
        return owner.state.info.edit;
    }
    Owner owner;
    QUndoStack stack;
    UndoStackAdapter undo{&stack};
};

} // namespace

TEST_F(UndoTest, EditsUnwindAndReplayInOrder) {
    std::vector<EditState> history{owner.state.info.edit};
    owner.state.playhead = 4;
    history.push_back(run(splitAtPlayhead(owner.state)));
    EXPECT_EQ(stack.undoText(), actions::split);
    owner.state.selection = Selection::ofTimeline({0, 4});
    history.push_back(run(removeSelected(owner.state)));
    owner.state.playhead = 8;
    history.push_back(run(setOutPoint(owner.state)));
    EXPECT_EQ(stack.undoText(), actions::trimEnd);
    EXPECT_EQ(owner.saves, 3);

    for (int round = 0; round < 2; ++round) {
        for (int i = 3; i > 0; --i) {
            stack.undo();
            EXPECT_EQ(owner.state.info.edit, history[i - 1]) << i;
        }
        EXPECT_FALSE(stack.canUndo());
        EXPECT_EQ(stack.redoText(), actions::split);
        for (int i = 1; i <= 3; ++i) {
            stack.redo();
            EXPECT_EQ(owner.state.info.edit, history[i]) << i;
        }
    }
    EXPECT_EQ(stack.count(), 3);    // undo and redo never push new entries
    EXPECT_EQ(owner.saves, 3 + 12); // the commits and each undo / redo save

    // A new edit after an undo drops the redo.
    stack.undo();
    run(resetEdits(owner.state));
    EXPECT_FALSE(stack.canRedo());
    EXPECT_EQ(stack.undoText(), actions::resetEdits);
    stack.undo();
    EXPECT_EQ(owner.state.info.edit, history[2]);
}

TEST_F(UndoTest, WithoutARegistryTheEditIsStillMade) {
    owner.state.playhead = 5;
    owner.run(splitAtPlayhead(owner.state), nullptr);
    EXPECT_EQ(owner.state.info.edit.splits, std::vector<double>{5});
    EXPECT_EQ(owner.saves, 1);
}

TEST_F(UndoTest, ActionsOutliveTheirOwnerHarmlessly) {
    {
        Owner gone;
        gone.state = owner.state;
        gone.state.playhead = 5;
        gone.run(splitAtPlayhead(gone.state), &undo);
    }
    EXPECT_TRUE(stack.canUndo());
    stack.undo(); // the owner is gone: nothing happens, nothing crashes
    stack.redo();
}
