#pragma once

#include <QFrame>

class QLabel;
class QToolButton;

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

// Under the preview, left to right: "Back to start", Play / Pause, the time played of the
// edited length, Split, Delete or Restore (by whether the selected part is removed), Overdub,
// and the "More" menu with "Undo All Edits" and the editor's help lines.
class TransportBar : public QFrame {
    Q_OBJECT
public:
    explicit TransportBar(TakeEditorModel& model, QWidget* parent = nullptr);

    QLabel& timeLabel() const { return *m_time; }

private:
    void showPlaying();
    void showTime();
    void showSelection();

    TakeEditorModel& m_model;
    QToolButton* m_play;
    QLabel* m_time;
    QToolButton* m_delete;
    QToolButton* m_restore;
};

} // namespace reelbox::ui
