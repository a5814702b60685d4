#pragma once

#include "compose/LiveLayout.h"
#include "compose/TakeComposer.h"

#include <QImage>
#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace reelbox {

class AudioOutputStream;
class MixPlayback;
struct MixSamples;
class PictureWorker;
class SampleRing;
class SoundSystem;

// Plays a composed take: the mix file through the sound output, the picture drawn from the
// live layout at 30 frames a second. The output device's clock leads (the sample being heard
// now is the playhead); without sound in the item, the host clock does. Lives on the main
// thread; decoding, drawing and the sound run elsewhere and never wait for it.
class Player : public QObject {
    Q_OBJECT
public:
    enum class Status { empty, loading, ready, failed };

    // Plays through the given output of the sound system (its default when empty); without a
    // sound system, or when the output can't be opened, it plays silently on the host clock.
    explicit Player(SoundSystem* sound = nullptr, const QString& outputId = {},
                    QObject* parent = nullptr);
    ~Player() override;

    // Plays through another output from now on (paused first); the item stays loaded.
    void setOutput(SoundSystem* sound, const QString& outputId);

    // A mix already in memory: the samples of the file at `path` as they were written,
    // interleaved stereo. The player takes them instead of reading the file when the item's
    // sound is that file alone, from its start.
    struct MixInMemory {
        QString path;
        std::shared_ptr<MixSamples> samples;
    };

    // Replaces the item; the player pauses. The status goes to loading, then to ready or
    // failed (with errorString()). The layout is read for every picture drawn.
    void load(const TakeComposer::Result& result, std::shared_ptr<const LiveLayout> layout,
              MixInMemory inMemory = {});
    void clear();
    Status status() const { return m_status; }
    QString errorString() const { return m_error; }
    bool hasItem() const { return m_status != Status::empty; }
    bool hasVideo() const;
    double duration() const { return m_durationSeconds; }

    void play();
    void pause();
    bool isPlaying() const { return m_playing; }

    // Item time in seconds: the sample being heard now, or where the player stands.
    double currentTime() const;

    // Exact seek: the first sample played afterwards is round(t × 48000) of the mix, the first
    // picture the one at t. `done(finished)` runs on the main thread once the picture at t is
    // drawn, with false when a later seek or load replaced this one.
    void seek(double seconds, std::function<void(bool)> done = {});
    // Pauses and moves by whole frames (1/30 s).
    void step(int frames);

    // Seeks and reports when sound and picture at that time are ready to start at once.
    void preroll(double seconds, std::function<void(bool)> done);
    // Starts playing so that the first sample of `seconds` is heard at host time
    // `hostTimeNs` (steady_clock). Falls back to starting now when that instant has passed.
    void playAt(double seconds, qint64 hostTimeNs);

    // The last picture shown, null before the first.
    QImage lastFrame() const { return m_lastFrame; }
    // Redraws the picture at the current time (after a layout change while paused).
    void redraw();

    // The output's reported latency; 0 on the host clock.
    qint64 outputLatencyNs() const;
    // What the output fails with, if it could not be opened.
    QString outputProblem() const { return m_outputProblem; }
    // Whether the output device's clock leads (else the host clock does).
    bool usesDeviceClock() const;
    // The host time the first sample of the current playing was heard; 0 before it is.
    qint64 firstHeardHostNs() const;
    // Copies of what the output is given (stereo), from the first played sample on.
    void setOutputTap(std::shared_ptr<SampleRing> ring);

signals:
    void statusChanged(Player::Status status);
    void playingChanged(bool playing);
    // Every 1/60 s while playing, and after seeks.
    void timeChanged(double seconds);
    // A new picture is on screen; `seconds` is its item time.
    void framePresented(const QImage& image, double seconds);

private:
    // Frees on the loader's thread what the main thread lets go of: a mix's memory (which can
    // take milliseconds to unmap), or a picture worker (which waits for the picture it draws).
    void discard(std::vector<std::shared_ptr<const MixSamples>> released);
    void discard(std::unique_ptr<PictureWorker> worker);
    void tick();
    void present(bool force);
    void setPlaying(bool playing);
    void startPictures(double seconds);
    void finishSeekIfReady();
    qint64 hostNow() const;

    std::unique_ptr<MixPlayback> m_sound;
    std::shared_ptr<SampleRing> m_tap;
    std::unique_ptr<AudioOutputStream> m_output;
    std::unique_ptr<PictureWorker> m_pictures;
    QString m_outputProblem;
    int m_outputGeneration = 0; // of outputs opened; an old one's failure is not reported

    Status m_status = Status::empty;
    QString m_error;
    double m_durationSeconds = 0;
    bool m_playing = false;
    int m_generation = 0; // of picture requests and seeks
    int m_item = 0;       // of loads

    // The host clock's position when there is no sound.
    double m_hostAnchorSeconds = 0;
    qint64 m_hostAnchorNs = 0;
    std::optional<qint64> m_hostStartNs; // a scheduled start without sound

    std::function<void(bool)> m_seekDone;
    double m_seekTarget = 0;
    double m_lastPresented = -1;
    QImage m_lastFrame;
    QTimer m_timer;
    QThreadPool m_loader;
};

} // namespace reelbox
