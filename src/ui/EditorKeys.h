#pragma once

#include <QString>
#include <Qt>

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

// What a key does on the editor screen.
enum class EditorKey {
    none, // not consumed: it goes on to the menus and the focused control
    jumpToStart,
    togglePlayback,
    removeSelected,
    restoreSelected,
    clearSelection,
    stepBack,
    stepForward,
    split,
    setInPoint,
    setOutPoint,
};

// The editor's key table, in its order: Ctrl, Alt or Meta pass; Return, Enter and Home go back
// to the start; Space plays or pauses; Backspace and Delete remove (or restore) the selected
// part and Escape clears the selection, neither with nothing selected; the arrows step a frame;
// then the key's letter, whatever the modifiers and case: S splits, I and O trim, K plays.
EditorKey editorKeyFor(int key, Qt::KeyboardModifiers modifiers, const QString& text,
                       bool hasSelection, bool selectionIsRemoved);

// Toggling playback: a playing take pauses; one standing at its end starts again from the
// beginning; otherwise it plays.
enum class PlaybackToggle { pause, play, restartAndPlay };
PlaybackToggle playbackToggle(bool playing, bool atEnd);

// Reads the key against the model's selection and does what it says; true when consumed.
bool handleEditorKey(TakeEditorModel& model, int key, Qt::KeyboardModifiers modifiers,
                     const QString& text);
// Plays or pauses as playbackToggle says.
void togglePlayback(TakeEditorModel& model);

} // namespace reelbox::ui
