#pragma once

#include <QUuid>
#include <QWidget>
#include <functional>

class QAction;
class QLabel;

namespace reelbox {
class TakeEditorModel;
struct Track;
} // namespace reelbox

namespace reelbox::ui {

class PanKnob;
class PillButton;
class TrackEffectsPopover;
class ValueSlider;

// The mixer strip of one audio track, 76 high: its name (take tracks in the accent colour,
// overdub tracks in purple), the Mute and Solo pills, the volume slider (−40 … 12 dB, "Reset
// Volume" on its context menu), the pan knob and "Effects", which opens the track's effects
// popover; "Delete Track" on the header's context menu. Follows the model and writes through
// it, a drag only when it ends.
class TrackHeader : public QWidget {
    Q_OBJECT
public:
    TrackHeader(TakeEditorModel& model, const QUuid& trackId, QWidget* parent = nullptr);

    QUuid trackId() const { return m_trackId; }
    PillButton* muteButton() const { return m_mute; }
    PillButton* soloButton() const { return m_solo; }
    ValueSlider* volumeSlider() const { return m_volume; }
    PanKnob* panKnob() const { return m_pan; }
    PillButton* effectsButton() const { return m_effects; }
    QAction* resetVolumeAction() const { return m_resetVolume; }
    QAction* deleteAction() const { return m_delete; }
    // The effects popover once it has been opened, or null.
    TrackEffectsPopover* effectsPopover() const { return m_popover; }
    void openEffects();

    static constexpr int fixedHeight = 76;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showTrack();
    void change(const std::function<void(Track&)>& edit);

    TakeEditorModel& m_model;
    QUuid m_trackId;
    QColor m_tint;
    QLabel* m_name;
    PillButton* m_mute;
    PillButton* m_solo;
    ValueSlider* m_volume;
    PanKnob* m_pan;
    PillButton* m_effects;
    QAction* m_resetVolume;
    QAction* m_delete;
    TrackEffectsPopover* m_popover = nullptr;
};

} // namespace reelbox::ui
