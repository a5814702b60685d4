#pragma once

#include "ui/Popover.h"

#include <QUuid>
#include <functional>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;

namespace reelbox {
class TakeEditorModel;
struct Track;
} // namespace reelbox

namespace reelbox::ui {

class LabeledSlider;
class SwitchSection;

// The effects of one track, 360 wide: its "Name", the "EQ" (low cut, bass, mid, treble, mid
// frequency), "Compressor" and "Reverb" sections, and for an overdub track the "Overdub"
// section (its timing, whether its video shows, and moving it to the Trash). Follows the model
// and writes through it; a slider writes when its drag ends.
class TrackEffectsPopover : public Popover {
    Q_OBJECT
public:
    TrackEffectsPopover(TakeEditorModel& model, const QUuid& trackId, QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }
    SwitchSection* eqSection() const { return m_eq; }
    SwitchSection* compressorSection() const { return m_compressor; }
    LabeledSlider* midFrequencySlider() const { return m_midFrequency; }
    // Null for a track of the take itself.
    LabeledSlider* timingSlider() const { return m_timing; }
    QPushButton* trashButton() const { return m_trash; }

private:
    SwitchSection* buildEq();
    SwitchSection* buildCompressor();
    SwitchSection* buildReverb();
    SwitchSection* buildOverdub(const QUuid& overdubId);
    void showTrack();
    void change(const std::function<void(Track&)>& edit);
    LabeledSlider* effectSlider(SwitchSection* section, const QString& title, double lower,
                                double upper, double defaultValue, const QString& unit,
                                const std::function<void(Track&, double)>& write,
                                bool logarithmic = false);

    TakeEditorModel& m_model;
    QUuid m_trackId;
    QUuid m_overdubId;
    QLineEdit* m_name;
    SwitchSection* m_eq = nullptr;
    QCheckBox* m_lowCut = nullptr;
    LabeledSlider* m_bass = nullptr;
    LabeledSlider* m_mid = nullptr;
    LabeledSlider* m_treble = nullptr;
    LabeledSlider* m_midFrequency = nullptr;
    SwitchSection* m_compressor = nullptr;
    LabeledSlider* m_compression = nullptr;
    QComboBox* m_room = nullptr;
    LabeledSlider* m_reverbSend = nullptr;
    LabeledSlider* m_timing = nullptr;
    QCheckBox* m_showVideo = nullptr;
    QPushButton* m_trash = nullptr;
};

} // namespace reelbox::ui
