#pragma once

#include <QWidget>

class QToolButton;

namespace reelbox::ui {

// What an overdub records, as two joined buttons 170 wide: "Sound" (sound only) or
// "Video too".
class SoundVideoChoice : public QWidget {
    Q_OBJECT
public:
    explicit SoundVideoChoice(QWidget* parent = nullptr);

    void setVideo(bool video);
    bool video() const;

signals:
    // The user chose.
    void chosen(bool video);

private:
    QToolButton* m_sound;
    QToolButton* m_video;
};

} // namespace reelbox::ui
