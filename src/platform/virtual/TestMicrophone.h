#pragma once

#include "platform/sound/AudioStreams.h"
#include "platform/virtual/SoundLoopback.h"
#include "platform/virtual/TestMicrophoneSignal.h"

#include <optional>
#include <thread>

namespace reelbox {

// The "Test Microphone" as a running device: TestMicrophoneSignal delivered in real time from
// its own thread. Frame n is taken at host time n / (48000 × (1 + ppm / 10⁶)) s, so with no skew
// the clicks fall on the whole seconds of the host clock, with the test camera's flashes.
class TestMicrophone : public AudioInputStream {
public:
    struct Options {
        int channels = 2;
        double ppm = 0; // sample clock error
        // With a loopback, the last channel carries only what the Test Output played, this late.
        std::optional<int> loopbackMs;
        int bufferFrames = 480;
        // Every so many buffers one is lost, as in an overrun: its frames are never delivered
        // and the next buffer carries its own stamp (0: none lost).
        int loseEvery = 0;
        // REELBOX_TEST_MIC_CHANNELS, REELBOX_TEST_MIC_PPM, REELBOX_TEST_LOOPBACK_MS,
        // REELBOX_TEST_MIC_LOSE_EVERY.
        static Options fromEnvironment();
    };

    TestMicrophone(const Options& options, std::shared_ptr<const SoundLoopback> loopback,
                   SoundInputCallback onBuffer, SoundErrorCallback onError = {});
    ~TestMicrophone() override;

    // The host instant of a frame and the first frame at or after an instant.
    static qint64 hostTimeOfFrame(qint64 frame, double ppm);
    static qint64 frameAtOrAfter(qint64 hostTimeNs, double ppm);

    static SoundDevice deviceInfo(int channels);

private:
    void run(std::stop_token stop);

    Options m_options;
    TestMicrophoneSignal m_signal;
    std::shared_ptr<const SoundLoopback> m_loopback;
    std::vector<float> m_buffer;
    std::jthread m_thread;
};

} // namespace reelbox
