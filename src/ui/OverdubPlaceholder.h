#pragma once

#include <QWidget>

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

// What the take shows while an overdub is set up, until the overdub screen takes its place:
// "Back to Editor" returns to the editor.
class OverdubPlaceholder : public QWidget {
    Q_OBJECT
public:
    explicit OverdubPlaceholder(TakeEditorModel& model, QWidget* parent = nullptr);
};

} // namespace reelbox::ui
