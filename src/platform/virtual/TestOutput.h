#pragma once

#include "platform/sound/AudioStreams.h"
#include "platform/virtual/SoundLoopback.h"

#include <thread>

namespace reelbox {

// The "Test Output": pulls samples in real time from its own thread and says each is heard
// 10 ms after it is taken. What it plays goes into the loopback (the mean of its channels).
class TestOutput : public AudioOutputStream {
public:
    static constexpr qint64 reportedLatencyNs = 10'000'000;

    TestOutput(int channels, std::shared_ptr<SoundLoopback> loopback, SoundOutputCallback render,
               SoundErrorCallback onError = {}, int bufferFrames = 480);
    ~TestOutput() override;

    static SoundDevice deviceInfo();

private:
    void run(std::stop_token stop);

    std::shared_ptr<SoundLoopback> m_loopback;
    int m_lane; // of the loopback, -1 when it has none free
    int m_bufferFrames;
    std::vector<float> m_buffer;
    std::jthread m_thread;
};

} // namespace reelbox
