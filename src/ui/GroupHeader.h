#pragma once

#include "edit/Group.h"

#include <QWidget>

class QLabel;
class QToolButton;

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

// A recording's title: its icon and name (a click selects its tracks, Shift adds), for a group
// with video the eye button that shows or hides its picture, and the trash button that asks
// before deleting the recording.
class GroupHeader : public QWidget {
    Q_OBJECT
public:
    GroupHeader(TakeEditorModel& model, const Group& group, QWidget* parent = nullptr);

    // Follows the model: the name and the eye.
    void refresh();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    void askToDelete();

    TakeEditorModel& m_model;
    Group m_group;
    QLabel* m_name = nullptr;
    QToolButton* m_eye = nullptr;
};

} // namespace reelbox::ui
