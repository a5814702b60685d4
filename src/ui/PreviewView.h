#pragma once

#include <QImage>
#include <QWidget>

class QProgressBar;

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

class PositionOverlay;

// The editor's picture on black: the player's frames as they are presented (already drawn at
// the preview's size by the player's worker), fitted without smoothing; the model's freeze
// frame over them while it holds one; a small "Updating preview…" indicator while the preview
// is rebuilt; and the overlay that moves the videos in the frame.
class PreviewView : public QWidget {
    Q_OBJECT
public:
    explicit PreviewView(TakeEditorModel& model, QWidget* parent = nullptr);

    const QImage& frame() const { return m_frame; }
    PositionOverlay& overlay() const { return *m_overlay; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showRendering();

    TakeEditorModel& m_model;
    QImage m_frame;
    PositionOverlay* m_overlay;
    QProgressBar* m_rendering;
};

} // namespace reelbox::ui
