#pragma once

#include <QWidget>

class QAction;
class QLabel;
class QMessageBox;
class QToolButton;
class QVBoxLayout;

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

class EditTimeline;
class ExportFlow;
class ExportHud;
class ExportPopover;
class ExportToast;
class KeyMonitor;
class PreviewView;
class TransportBar;

// The editor of the open take: its name and edited length with "Share" (Ctrl+E), the preview,
// the transport bar, the edit timeline with the track controls, and the master controls. The
// editor's keys work while it is shown; a problem of the model shows as "Problem" until
// dismissed.
class EditorScreen : public QWidget {
    Q_OBJECT
public:
    explicit EditorScreen(TakeEditorModel& model, QWidget* parent = nullptr);

    EditTimeline& timeline() const { return *m_timeline; }

    TakeEditorModel& model() const { return m_model; }
    PreviewView& preview() const { return *m_preview; }
    TransportBar& transport() const { return *m_transport; }
    ExportFlow& exportFlow() const { return *m_export; }
    ExportPopover& exportPopover() const { return *m_popover; }
    ExportHud& exportHud() const { return *m_hud; }
    ExportToast& toast() const { return *m_toast; }
    QAction& exportAction() const { return *m_exportAction; }
    KeyMonitor& keys() const { return *m_keys; }
    QLabel& title() const { return *m_title; }
    QLabel& subtitle() const { return *m_subtitle; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void showTitle();
    void showError();

    TakeEditorModel& m_model;
    QLabel* m_title;
    QLabel* m_subtitle;
    QToolButton* m_share;
    PreviewView* m_preview;
    TransportBar* m_transport;
    QVBoxLayout* m_below;
    EditTimeline* m_timeline = nullptr;
    ExportHud* m_hud;
    ExportToast* m_toast;
    ExportPopover* m_popover;
    ExportFlow* m_export;
    QAction* m_exportAction;
    KeyMonitor* m_keys;
    QMessageBox* m_problem = nullptr;
};

} // namespace reelbox::ui
