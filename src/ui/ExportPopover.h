#pragma once

#include "ui/Popover.h"

class QLabel;
class QPushButton;
class QRadioButton;

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

// Export choices, 260 wide: the format ("Video", "Smaller video", "Audio only") with its
// caption ("Updating preview…" while the preview is rebuilt), then "Share…" and "Save…"
// (Return).
class ExportPopover : public Popover {
    Q_OBJECT
public:
    explicit ExportPopover(TakeEditorModel& model, QWidget* parent = nullptr);

    QLabel& caption() const { return *m_caption; }

signals:
    void shareRequested();
    void saveRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showSettings();

    TakeEditorModel& m_model;
    QRadioButton* m_formats[3];
    QLabel* m_caption;
};

// The caption under the format choice.
QString formatCaption(int formatIndex, bool rendering);

} // namespace reelbox::ui
