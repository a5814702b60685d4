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

} // namespace

TEST(Undo, SplitUndoRedoUndoRoundTrips) {
    test::EditFixture f;
    Owner owner;
    owner.state = f.state;
    QUndoStack stack;
    UndoStackAdapter undo(&stack);

    const EditState before = owner.state.info.edit;
    owner.state.playhead = 5;
    owner.run(splitAtPlayhead(owner.state), &undo);
    const EditState after = owner.state.info.edit;
    ASSERT_NE(before, after);
    EXPECT_EQ(stack.count(), 1);
    EXPECT_EQ(stack.undoText(), actions::split);

    stack.undo();
    EXPECT_EQ(owner.state.info.edit, before);
    EXPECT_EQ(stack.redoText(), actions::split);
    stack.redo();
    EXPECT_EQ(owner.state.info.edit, after);
    EXPECT_EQ(stack.undoText(), actions::split);
    stack.undo();
    EXPECT_EQ(owner.state.info.edit, before);
    stack.redo();
    EXPECT_EQ(owner.state.info.edit, after);
    EXPECT_EQ(stack.count(), 1); // undo and redo never push new entries
    EXPECT_EQ(owner.saves, 5);   // the commit and each undo / redo save
}

TEST(Undo, SeveralEditsUnwindInOrder) {
    test::EditFixture f;
    Owner owner;
    owner.state = f.state;
    QUndoStack stack;
    UndoStackAdapter undo(&stack);

    std::vector<EditState> history{owner.state.info.edit};
    owner.state.playhead = 4;
    owner.run(splitAtPlayhead(owner.state), &undo);
    history.push_back(owner.state.info.edit);
    owner.state.selection = Selection::ofTimeline({0, 4});
    owner.run(removeSelected(owner.state), &undo);
    history.push_back(owner.state.info.edit);
    owner.state.playhead = 8;
    owner.run(setOutPoint(owner.state), &undo);
    history.push_back(owner.state.info.edit);
    EXPECT_EQ(stack.undoText(), actions::trimEnd);

    for (int i = 3; i > 0; --i) {
        stack.undo();
        EXPECT_EQ(owner.state.info.edit, history[i - 1]) << i;
    }
    EXPECT_FALSE(stack.canUndo());
    for (int i = 1; i <= 3; ++i) {
        stack.redo();
        EXPECT_EQ(owner.state.info.edit, history[i]) << i;
    }
    // A new edit after an undo drops the redo.
    stack.undo();
    owner.run(resetEdits(owner.state), &undo);
    EXPECT_FALSE(stack.canRedo());
    EXPECT_EQ(stack.undoText(), actions::resetEdits);
    stack.undo();
    EXPECT_EQ(owner.state.info.edit, history[2]);
}

TEST(Undo, WithoutARegistryTheEditIsStillMade) {
    test::EditFixture f;
    Owner owner;
    owner.state = f.state;
    owner.state.playhead = 5;
    owner.run(splitAtPlayhead(owner.state), nullptr);
    EXPECT_EQ(owner.state.info.edit.splits, std::vector<double>{5});
    EXPECT_EQ(owner.saves, 1);
}

TEST(Undo, ActionsOutliveTheirOwnerHarmlessly) {
    test::EditFixture f;
    QUndoStack stack;
    UndoStackAdapter undo(&stack);
    {
        Owner owner;
        owner.state = f.state;
        owner.state.playhead = 5;
        owner.run(splitAtPlayhead(owner.state), &undo);
    }
    EXPECT_TRUE(stack.canUndo());
    stack.undo(); // the owner is gone: nothing happens, nothing crashes
    stack.redo();
}
