#pragma once

#include "edit/EditorModelFixture.h"
#include "edit/UndoStackAdapter.h"
#include "ui/EditTimeline.h"

#include <QString>
#include <QUndoStack>
#include <functional>
#include <optional>

class QAccessibleInterface;
class QObject;
class QWidget;

namespace reelbox::ui {
class TrackHeader;
}

namespace reelbox::test {

// Every accessible element under `root`, depth first, handed to `visit`.
void walkAccessible(QAccessibleInterface* root,
                    const std::function<void(QAccessibleInterface*)>& visit);
// The first shown element of `role` named `name`, or labelled by it.
QAccessibleInterface* findAccessible(QObject* root, int role, const QString& name);
// Waits for the problem box under `parent`, checks it is titled `title` and says the model's
// `error`, dismisses it and checks that cleared the error.
void dismissProblem(QWidget* parent, const QString& title,
                    const std::function<std::optional<QString>()>& error);

// A three-second take open in the editor model, undone through `stack`; on request the timeline.
class EditorWidgetTest : public EditorModelFixture {
protected:
    void open(int overdubs = 0);
    // Lanes 624 points wide: 200 points a second.
    void showTimeline();
    // The timeline's header of a track, or null.
    ui::TrackHeader* header(const QUuid& trackId) const;
    const Track& track(size_t i) const { return model->take().info.tracks.at(i); }
    // Waits for the pending save and the rebuilt preview.
    void settle() const { EditorModelFixture::settle(*model); }

    Take take;
    std::unique_ptr<TakeEditorModel> model;
    QUndoStack stack;
    UndoStackAdapter undo{&stack};
    std::unique_ptr<ui::EditTimeline> timeline;
};

} // namespace reelbox::test
