#pragma once

#include <QImage>
#include <QWidget>

namespace reelbox {
class Player;
}

namespace reelbox::ui {

// The pictures a player presents, fitted into the view with their aspect kept, on black; no
// smoothing at paint time (the player's worker has drawn them near the size shown). The last
// picture stays until the player is cleared.
class PlayerPictureView : public QWidget {
    Q_OBJECT
public:
    explicit PlayerPictureView(Player& player, QWidget* parent = nullptr);

    // The picture painted last (null before the first).
    const QImage& frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_frame;
};

} // namespace reelbox::ui
