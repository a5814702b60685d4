#include "platform/virtual/TestOutput.h"

#include "platform/HostClock.h"
#include "platform/SampleRate.h"

#include <chrono>

namespace reelbox {

QString testOutputId() {
    return QStringLiteral("reelbox:test-output");
}

QString testOutputName() {
    return QStringLiteral("Test Output");
}

SoundDevice TestOutput::deviceInfo() {
    return SoundDevice{testOutputId(), testOutputName(), 2, true};
}

TestOutput::TestOutput(int channels, std::shared_ptr<SoundLoopback> loopback,
                       SoundOutputCallback render, SoundErrorCallback onError, int bufferFrames)
    : AudioOutputStream(deviceInfo(), std::max(1, channels), std::move(render), std::move(onError)),
      m_loopback(std::move(loopback)), m_lane(m_loopback ? m_loopback->claimLane() : -1),
      m_bufferFrames(std::clamp(bufferFrames, 16, audioSampleRate)) {
    setLatencyNs(reportedLatencyNs);
    m_buffer.resize(size_t(m_bufferFrames) * size_t(this->channels()));
    m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

TestOutput::~TestOutput() {
    m_thread.request_stop();
    if (m_thread.joinable())
        m_thread.join();
    if (m_loopback)
        m_loopback->releaseLane(m_lane);
}

void TestOutput::run(std::stop_token stop) {
    using Clock = HostClock;
    const int channels = this->channels();
    // Frames on the 48 kHz grid of the host clock: frame m is taken at m / 48000 s.
    auto nsOf = [](qint64 m) { return m * 62500 / 3; };
    qint64 m = Clock::now().time_since_epoch().count() * 3 / 62500 + 1;
    while (!stop.stop_requested()) {
        std::this_thread::sleep_until(Clock::time_point(Clock::duration(nsOf(m))));
        if (stop.stop_requested())
            break;
        const qint64 heard = nsOf(m) + reportedLatencyNs;
        render(m_buffer.data(), m_bufferFrames, heard);
        if (m_lane >= 0) {
            const qint64 slot = SoundLoopback::slotOf(heard);
            const float* p = m_buffer.data();
            for (int i = 0; i < m_bufferFrames; ++i, p += channels) {
                float sum = 0;
                for (int c = 0; c < channels; ++c)
                    sum += p[c];
                m_loopback->write(m_lane, slot + i, sum / float(channels));
            }
        }
        m += m_bufferFrames;
    }
}

} // namespace reelbox
