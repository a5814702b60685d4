#pragma once

#include <QFrame>

namespace reelbox {
class DeviceManager;
class RecorderModel;
} // namespace reelbox

namespace reelbox::ui {

class RecordButton;
class RecordingTime;
class AudioCard;

// The recorder's bottom bar: the camera card, the record button over the time readout in a
// 110-wide column, and the audio card.
class RecorderBar : public QFrame {
    Q_OBJECT
public:
    RecorderBar(RecorderModel& recorder, DeviceManager& devices, QWidget* parent = nullptr);

    RecordButton& recordButton() const { return *m_button; }
    AudioCard& audio() const { return *m_audio; }

signals:
    void recordPressed();

private:
    RecordButton* m_button;
    RecordingTime* m_time;
    AudioCard* m_audio;
};

} // namespace reelbox::ui
