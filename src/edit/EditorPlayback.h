#pragma once

#include "compose/LiveLayout.h"
#include "compose/TakeComposer.h"
#include "model/Take.h"
#include "play/Player.h"

#include <QImage>
#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace reelbox {

class SoundSystem;

// The take editor's preview as it plays: the player with the latest composition, the playhead
// in source time (the player runs in output time, the kept spans end to end), seeks that chase
// the last request while scrubbing, the picture redrawn in place after a picture-only change,
// and the freeze frame that covers a new preview until it draws. The model owns it.
// Threads: call it on the main thread only; its signals arrive on the main thread.
class EditorPlayback : public QObject {
    Q_OBJECT
public:
    struct Callbacks {
        std::function<const Take&()> take;
        std::function<double()> sourceDuration;
        // A picture change found no picture to redraw: the composition is to be rebuilt.
        std::function<void()> rebuildPicture;
        std::function<void(const QString&)> failed;
    };

    // Plays through `outputId` of `sound` (its default when empty).
    EditorPlayback(SoundSystem& sound, const QString& outputId, Callbacks callbacks,
                   QObject* parent = nullptr);
    ~EditorPlayback() override;

    Player* player() const { return m_player.get(); }
    bool isPlaying() const { return m_isPlaying; }
    double playhead() const { return m_playhead; }
    const SpanList& playerSpans() const { return m_playerSpans; }
    SizeD renderSize() const { return m_renderSize; }
    const std::vector<TakeComposer::Placement>& placements() const { return m_placements; }
    SizeD canvasSource() const { return m_canvasSource; }
    const std::optional<QImage>& freezeFrame() const { return m_freezeFrame; }
    bool isSeeking() const { return m_seekInFlight || m_pendingSeek.has_value(); }

    // Puts a new preview in place under the last picture shown, keeping the playhead and
    // whether it plays.
    void load(const TakeComposer::Result& result, const SpanList& spans,
              Player::MixInMemory inMemory);
    // Redraws the picture with the take's picture settings as they are now.
    void refreshPicture();
    void seek(double sourceSeconds);
    void jumpToStart();
    bool atEnd() const;
    double outputTime() const;
    void play();
    void pause();
    // Pauses and empties the player for good: play() does nothing afterwards.
    void stop();

signals:
    void isPlayingChanged();
    void playheadChanged();
    void playerSpansChanged();
    void renderSizeChanged();
    void placementsChanged();
    void canvasSourceChanged();
    void freezeFrameChanged();

private:
    void setPlayhead(double seconds);
    void writeLayout();
    void playerStatusChanged(Player::Status status);
    void playerTimeChanged(double seconds);
    void chaseSeek(double outputSeconds);
    void releaseFreezeFrame();
    void pollFirstFrame(int release, int tries);

    Callbacks m_callbacks;
    std::unique_ptr<Player> m_player;
    bool m_isPlaying = false;
    double m_playhead = 0;
    SpanList m_playerSpans;
    SizeD m_renderSize;
    std::vector<TakeComposer::Placement> m_placements;
    SizeD m_canvasSource{1920, 1080};
    std::vector<TakeComposer::VideoSource> m_videoSources;
    std::shared_ptr<LiveLayout> m_liveLayout = std::make_shared<LiveLayout>();
    bool m_seekInFlight = false;
    std::optional<double> m_pendingSeek;
    std::optional<QImage> m_freezeFrame;
    int m_load = 0; // the current player item
    bool m_resumeAfterLoad = false;
    int m_framesSinceLoad = 0;
    int m_release = 0;
    bool m_stopped = false;
};

} // namespace reelbox
