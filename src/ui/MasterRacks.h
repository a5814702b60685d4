#pragma once

#include <QWidget>

class QButtonGroup;
class QCheckBox;
class QLabel;

namespace reelbox {
class TakeEditorModel;
}

namespace reelbox::ui {

class LabeledSlider;
class RackButton;

// The master controls of the open take, as racks in a row: "Volume" (the master volume and
// normalize, with the boost the last mix applied), "Frame" (aspect, mirror, output size,
// "Center All") and "Layout" (how the overdub videos share the picture). Follows the model and
// writes through its master and export setters.
class MasterRacks : public QWidget {
    Q_OBJECT
public:
    explicit MasterRacks(TakeEditorModel& model, QWidget* parent = nullptr);

    RackButton* volumeRack() const { return m_volumeRack; }
    RackButton* frameRack() const { return m_frameRack; }
    RackButton* layoutRack() const { return m_layoutRack; }

private:
    void buildVolume();
    void buildFrame();
    void buildLayout();
    void showTake();
    void showBoost();
    void showSize();

    TakeEditorModel& m_model;
    RackButton* m_volumeRack;
    RackButton* m_frameRack;
    RackButton* m_layoutRack;
    LabeledSlider* m_volume = nullptr;
    QCheckBox* m_normalize = nullptr;
    QLabel* m_boost = nullptr;
    QButtonGroup* m_aspects = nullptr;
    QLabel* m_size = nullptr;
    QCheckBox* m_mirror = nullptr;
    QButtonGroup* m_layouts = nullptr;
};

} // namespace reelbox::ui
