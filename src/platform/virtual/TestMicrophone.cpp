#include "platform/virtual/TestMicrophone.h"

#include "platform/HostClock.h"
#include "platform/SampleRate.h"

#include <chrono>
#include <cmath>

namespace reelbox {

QString testMicrophoneId() {
    return QStringLiteral("reelbox:test-microphone");
}

QString testMicrophoneName() {
    return QStringLiteral("Test Microphone");
}

TestMicrophone::Options TestMicrophone::Options::fromEnvironment() {
    Options options;
    bool ok = false;
    const int channels = qEnvironmentVariableIntValue("REELBOX_TEST_MIC_CHANNELS", &ok);
    if (ok && channels >= 1 && channels <= 64)
        options.channels = channels;
    const double ppm = qEnvironmentVariable("REELBOX_TEST_MIC_PPM").toDouble(&ok);
    if (ok && std::abs(ppm) < 1e5)
        options.ppm = ppm;
    const int loopback = qEnvironmentVariableIntValue("REELBOX_TEST_LOOPBACK_MS", &ok);
    if (ok && loopback >= 0 && loopback < 2000)
        options.loopbackMs = loopback;
    const int loseEvery = qEnvironmentVariableIntValue("REELBOX_TEST_MIC_LOSE_EVERY", &ok);
    if (ok && loseEvery >= 2)
        options.loseEvery = loseEvery;
    return options;
}

SoundDevice TestMicrophone::deviceInfo(int channels) {
    return SoundDevice{testMicrophoneId(), testMicrophoneName(), channels, true};
}

qint64 TestMicrophone::hostTimeOfFrame(qint64 frame, double ppm) {
    const long double rate = audioSampleRate * (1.0L + static_cast<long double>(ppm) / 1e6L);
    return qint64(std::llroundl(static_cast<long double>(frame) * 1e9L / rate));
}

qint64 TestMicrophone::frameAtOrAfter(qint64 hostTimeNs, double ppm) {
    const long double rate = audioSampleRate * (1.0L + static_cast<long double>(ppm) / 1e6L);
    // Host times are rounded to whole nanoseconds, so settle the estimate against them.
    qint64 frame = qint64(std::floor(static_cast<long double>(hostTimeNs) * rate / 1e9L));
    while (hostTimeOfFrame(frame, ppm) < hostTimeNs)
        ++frame;
    while (hostTimeOfFrame(frame - 1, ppm) >= hostTimeNs)
        --frame;
    return frame;
}

TestMicrophone::TestMicrophone(const Options& options,
                               std::shared_ptr<const SoundLoopback> loopback,
                               SoundInputCallback onBuffer, SoundErrorCallback onError)
    : AudioInputStream(deviceInfo(std::max(1, options.channels)), std::move(onBuffer),
                       std::move(onError)),
      m_options(options), m_signal(std::max(1, options.channels)), m_loopback(std::move(loopback)) {
    m_options.channels = m_signal.channels();
    m_options.bufferFrames = std::clamp(m_options.bufferFrames, 16, audioSampleRate);
    m_buffer.resize(size_t(m_options.bufferFrames) * size_t(m_options.channels));
    m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
}

TestMicrophone::~TestMicrophone() {
    m_thread.request_stop();
    if (m_thread.joinable())
        m_thread.join();
}

void TestMicrophone::run(std::stop_token stop) {
    using Clock = HostClock;
    const int channels = m_options.channels;
    const qint64 frames = m_options.bufferFrames;
    const double ppm = m_options.ppm;
    const bool loop = m_options.loopbackMs.has_value() && m_loopback;
    const qint64 loopbackNs = loop ? qint64(*m_options.loopbackMs) * 1000000 : 0;
    qint64 frame = frameAtOrAfter(Clock::now().time_since_epoch().count(), ppm);
    for (qint64 buffer = 1; !stop.stop_requested(); ++buffer) {
        // A buffer is complete once its last frame has been taken.
        const qint64 ready = hostTimeOfFrame(frame + frames, ppm);
        std::this_thread::sleep_until(Clock::time_point(Clock::duration(ready)));
        if (stop.stop_requested())
            break;
        // Clicks at the flash instants, whole seconds of the host clock, wherever they fall
        // among this clock's frames.
        m_signal.fillTones(m_buffer.data(), frame, frames);
        const qint64 clickFrames = m_signal.clickFrames();
        const qint64 firstSecond =
            std::max<qint64>(0, hostTimeOfFrame(frame - clickFrames, ppm) / nsPerSecond);
        const qint64 lastSecond = hostTimeOfFrame(frame + frames, ppm) / nsPerSecond;
        for (qint64 s = firstSecond; s <= lastSecond; ++s)
            m_signal.writeClick(m_buffer.data(), frame, frames,
                                frameAtOrAfter(s * nsPerSecond, ppm));
        if (loop) {
            float* last = m_buffer.data() + (channels - 1);
            for (qint64 i = 0; i < frames; ++i, last += channels)
                *last = m_loopback->read(
                    SoundLoopback::slotOf(hostTimeOfFrame(frame + i, ppm) - loopbackNs));
        }
        if (m_options.loseEvery == 0 || buffer % m_options.loseEvery != 0)
            deliver(m_buffer.data(), int(frames), hostTimeOfFrame(frame, ppm));
        frame += frames;
    }
}

} // namespace reelbox
