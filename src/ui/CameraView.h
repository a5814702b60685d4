#pragma once

#include <QImage>
#include <QWidget>

namespace reelbox {
class CameraPreview;
}

namespace reelbox::ui {

// The live camera picture: asks the preview for frames at its own size in device pixels while
// it is shown, and paints the newest one 1:1 (no scaling at paint time), centred on black,
// turned left to right when mirrored.
class CameraView : public QWidget {
    Q_OBJECT
public:
    explicit CameraView(CameraPreview& preview, QWidget* parent = nullptr);

    void setMirrored(bool mirrored);
    bool isMirrored() const { return m_mirrored; }
    // The frame painted last (null before the first).
    const QImage& frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void askForFrames();

    CameraPreview& m_preview;
    QImage m_frame;
    bool m_mirrored = false;
};

} // namespace reelbox::ui
