#pragma once

#include "audio/SampleBuffer.h"
#include "platform/SampleRate.h"

#include <QtGlobal>
#include <atomic>
#include <memory>
#include <vector>

namespace reelbox {

class SampleRing;

// Stereo samples at 48 kHz, interleaved.
struct MixSamples {
    mix::Buffer samples;
    qint64 frames() const { return qint64(samples.size() / 2); }
};

// Plays a mix held in memory from the sound device's thread. The main thread sends commands
// (play, pause, seek, a start at a host-clock instant) and reads back where the device is;
// neither side ever waits for the other. The audio side allocates nothing and takes no lock.
class MixPlayback {
public:
    static constexpr int sampleRate = audioSampleRate;

    MixPlayback();
    ~MixPlayback();
    MixPlayback(const MixPlayback&) = delete;
    MixPlayback& operator=(const MixPlayback&) = delete;

    // Sample buffers the audio side no longer reads, for the caller to free.
    using Released = std::vector<std::shared_ptr<const MixSamples>>;

    // Main thread. The samples (or none, for silence) and the item's length in frames; the
    // player pauses at frame 0.
    [[nodiscard]] Released setItem(std::shared_ptr<const MixSamples> samples, qint64 lengthFrames);
    // Main thread. Playing starts from `frame`; with a host time, its first sample is heard
    // then (silence before it).
    void play(qint64 frame, qint64 startHostNs = 0);
    void pause(qint64 frame);

    // Any thread: the frame heard at `hostNowNs` while playing, the paused frame otherwise.
    double positionAt(qint64 hostNowNs) const;
    // Any thread: whether playing ran off the end of the item since the last play().
    bool reachedEnd() const { return m_reachedEnd.load(); }
    // Any thread: the host time the first played sample was heard (0 before any).
    qint64 firstHeardHostNs() const { return m_firstHeardNs.load(); }

    // Audio thread: fills one buffer whose first sample is heard at `hostTimeNs`.
    void render(float* interleaved, int frames, int channels, qint64 hostTimeNs) noexcept;

    // Main thread: lets go of the sample buffers the audio side no longer reads.
    [[nodiscard]] Released collect();

    // Stereo copies of what the device is given, from the first played sample for as long as
    // it plays. The ring must outlive the playback or be unset first.
    void setTap(SampleRing* ring) { m_tap.store(ring); }

private:
    struct Command {
        bool playing = false;
        qint64 frame = 0;
        qint64 startHostNs = 0;
    };
    void send(const Command& command);
    // The command and the sequence number it was read under.
    bool receive(Command& command, unsigned& seq) const noexcept;
    const MixSamples* acquireSamples() noexcept;
    void publish(qint64 frame, qint64 hostNs, bool moving) noexcept;

    // main → audio, a sequence lock of atomics
    std::atomic<unsigned> m_commandSeq{0};
    std::atomic<bool> m_cmdPlaying{false};
    std::atomic<qint64> m_cmdFrame{0};
    std::atomic<qint64> m_cmdStartHostNs{0};
    std::atomic<qint64> m_length{0};

    // the samples: the main thread proposes, the audio side marks what it reads
    std::atomic<const MixSamples*> m_pending{nullptr};
    std::atomic<const MixSamples*> m_inUse{nullptr};
    std::vector<std::shared_ptr<const MixSamples>> m_kept;

    // audio → any, a sequence lock of atomics
    std::atomic<unsigned> m_positionSeq{0};
    std::atomic<qint64> m_anchorFrame{0};
    std::atomic<qint64> m_anchorHostNs{0};
    std::atomic<bool> m_moving{false};
    std::atomic<bool> m_reachedEnd{false};
    std::atomic<qint64> m_firstHeardNs{0};
    std::atomic<SampleRing*> m_tap{nullptr};

    // audio thread only
    unsigned m_appliedSeq = 0;
    bool m_playing = false;
    qint64 m_position = 0;
    qint64 m_startHostNs = 0;
    bool m_waitingFirst = false;
};

} // namespace reelbox
