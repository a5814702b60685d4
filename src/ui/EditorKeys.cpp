#include "ui/EditorKeys.h"

#include "edit/EditOperations.h"
#include "edit/SelectionOperations.h"
#include "edit/TakeEditorModel.h"
#include "play/Player.h"

namespace reelbox::ui {

EditorKey editorKeyFor(int key, Qt::KeyboardModifiers modifiers, const QString& text,
                       bool hasSelection, bool selectionIsRemoved) {
    if (modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return EditorKey::none;
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Home:
        return EditorKey::jumpToStart;
    case Qt::Key_Space:
        return EditorKey::togglePlayback;
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        if (!hasSelection)
            return EditorKey::none;
        return selectionIsRemoved ? EditorKey::restoreSelected : EditorKey::removeSelected;
    case Qt::Key_Escape:
        return hasSelection ? EditorKey::clearSelection : EditorKey::none;
    case Qt::Key_Left:
        return EditorKey::stepBack;
    case Qt::Key_Right:
        return EditorKey::stepForward;
    default:
        break;
    }
    QString letter = text.toLower();
    if (letter.isEmpty() && key >= Qt::Key_A && key <= Qt::Key_Z)
        letter = QChar(u'a' + (key - Qt::Key_A));
    if (letter == u"s")
        return EditorKey::split;
    if (letter == u"i")
        return EditorKey::setInPoint;
    if (letter == u"o")
        return EditorKey::setOutPoint;
    if (letter == u"k")
        return EditorKey::togglePlayback;
    return EditorKey::none;
}

PlaybackToggle playbackToggle(bool playing, bool atEnd) {
    if (playing)
        return PlaybackToggle::pause;
    return atEnd ? PlaybackToggle::restartAndPlay : PlaybackToggle::play;
}

void togglePlayback(TakeEditorModel& model) {
    switch (playbackToggle(model.isPlaying(), model.atEnd())) {
    case PlaybackToggle::pause:
        model.pause();
        break;
    case PlaybackToggle::restartAndPlay:
        model.jumpToStart();
        model.play();
        break;
    case PlaybackToggle::play:
        model.play();
        break;
    }
}

bool handleEditorKey(TakeEditorModel& model, int key, Qt::KeyboardModifiers modifiers,
                     const QString& text) {
    const bool removed = selectionIsRemoved(model.take().info.edit, model.selection());
    switch (editorKeyFor(key, modifiers, text, model.selection().has_value(), removed)) {
    case EditorKey::none:
        return false;
    case EditorKey::jumpToStart:
        model.jumpToStart();
        break;
    case EditorKey::togglePlayback:
        togglePlayback(model);
        break;
    case EditorKey::removeSelected:
        model.apply(removeSelected(model.editingState()));
        break;
    case EditorKey::restoreSelected:
        model.apply(restoreSelected(model.editingState()));
        break;
    case EditorKey::clearSelection:
        model.setSelection(std::nullopt);
        break;
    case EditorKey::stepBack:
    case EditorKey::stepForward:
        model.stepFrames(key == Qt::Key_Left ? -1 : 1);
        break;
    case EditorKey::split:
        model.apply(splitAtPlayhead(model.editingState()));
        break;
    case EditorKey::setInPoint:
        model.apply(setInPoint(model.editingState()));
        break;
    case EditorKey::setOutPoint:
        model.apply(setOutPoint(model.editingState()));
        break;
    }
    return true;
}

} // namespace reelbox::ui
