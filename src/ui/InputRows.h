#pragma once

#include <QWidget>
#include <vector>

class QCheckBox;
class QGridLayout;
class QLabel;

namespace reelbox {
class InputMonitor;
}

namespace reelbox::ui {

class MeterBar;
class ClipLight;

// One row per input channel: its "Input n" check box, its level meter (faint when unticked)
// and its clip light; "No signal" while there are none. Follows the inputs of the recorder or
// of an overdub.
class InputRows : public QWidget {
    Q_OBJECT
public:
    explicit InputRows(InputMonitor& inputs, QWidget* parent = nullptr);

    // The meter of input `index` (from 0), or null.
    MeterBar* meter(int index) const;

private:
    struct Row {
        QCheckBox* box;
        MeterBar* meter;
        ClipLight* clip;
    };
    void rebuild();
    void showChannels();
    void showLevels();
    void showClips();

    InputMonitor& m_inputs;
    QGridLayout* m_grid;
    QLabel* m_noSignal;
    std::vector<Row> m_rows;
};

} // namespace reelbox::ui
