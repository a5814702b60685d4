#pragma once

#include <QWidget>

class QLabel;
class QMessageBox;
class QPushButton;
class QStackedWidget;

namespace reelbox {
class OverdubModel;
class TakeEditorModel;
} // namespace reelbox

namespace reelbox::ui {

class CameraView;
class CountdownOverlay;
class KeyMonitor;
class OverdubBar;
class PlayerPictureView;
class StartBar;
class VideoPane;

// The screen in place of the editor while an overdub is made: "Back to Editor" (Escape, only
// while idle), the take's picture beside the live camera (or "Sound only"), the countdown over
// them, the start bar and the overdub bar. Space practises, R records; a recording that became
// an overdub, or "Back to Editor", hands the take back to the editor. The model is active while
// the screen is shown; a problem shows as "Overdub Problem".
class OverdubScreen : public QWidget {
    Q_OBJECT
public:
    // `model` and `editor` must outlive the screen.
    OverdubScreen(OverdubModel& model, TakeEditorModel& editor, QWidget* parent = nullptr);
    ~OverdubScreen() override;

    void record();
    // Back to the editor once the current event is handled (so whoever owns the screen may let
    // it go then), unless a recording is under way.
    void back();

    QPushButton& backButton() const { return *m_back; }
    VideoPane& takePane() const { return *m_takePane; }
    PlayerPictureView& takePicture() const { return *m_takePicture; }
    // The pane beside the take's picture now shown: the camera, "No Camera" or "Sound only".
    QWidget* sidePane() const;
    CameraView& camera() const { return *m_camera; }
    StartBar& startBar() const { return *m_start; }
    OverdubBar& bar() const { return *m_bar; }
    KeyMonitor& keys() const { return *m_keys; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QWidget* makeHeader();
    void showStage();
    void showState();
    void showError();

    OverdubModel& m_model;
    TakeEditorModel& m_editor;
    QPushButton* m_back;
    QLabel* m_subtitle;
    PlayerPictureView* m_takePicture;
    VideoPane* m_takePane;
    CameraView* m_camera;
    VideoPane* m_cameraPane;
    QWidget* m_noCamera;
    VideoPane* m_soundOnly;
    QStackedWidget* m_side;
    CountdownOverlay* m_countdown;
    StartBar* m_start;
    OverdubBar* m_bar;
    KeyMonitor* m_keys;
    QMessageBox* m_problem = nullptr;
    bool m_active = false;
};

} // namespace reelbox::ui
