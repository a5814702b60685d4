#pragma once

#include "ui/PanelCard.h"

class QComboBox;

namespace reelbox {
class OverdubModel;
}

namespace reelbox::ui {

// "Listen on": where the take is heard while an overdub is recorded, "System Output" or one of
// the outputs (following outputs plugged in or removed), and the headphones note. Locked unless
// the overdub is idle.
class ListenCard : public PanelCard {
    Q_OBJECT
public:
    explicit ListenCard(OverdubModel& model, QWidget* parent = nullptr);

    QComboBox& picker() const { return *m_picker; }

private:
    void showOutputs();

    OverdubModel& m_model;
    QComboBox* m_picker;
};

} // namespace reelbox::ui
