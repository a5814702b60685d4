#pragma once

#include "platform/sound/LevelMeter.h"
#include "platform/sound/SoundDevice.h"

#include <algorithm>
#include <atomic>

namespace reelbox {

// A running input stream: every channel of the device, one to one. Delivery starts when it is
// opened and stops when it is destroyed; no callback runs after the destructor returns.
class AudioInputStream {
public:
    virtual ~AudioInputStream() = default;
    AudioInputStream(const AudioInputStream&) = delete;
    AudioInputStream& operator=(const AudioInputStream&) = delete;

    const SoundDevice& device() const { return m_device; }
    int channels() const { return m_device.channels; }

    // Levels per channel since the previous call.
    std::vector<LevelMeter::Level> readLevels() { return m_meter.read(); }

    // Whether the stream ended on its own (the error callback has run or is running).
    bool failed() const { return m_failed.load(); }

protected:
    AudioInputStream(SoundDevice device, SoundInputCallback onBuffer, SoundErrorCallback onError)
        : m_device(std::move(device)), m_meter(m_device.channels), m_onBuffer(std::move(onBuffer)),
          m_onError(std::move(onError)) {}

    // Audio thread.
    void deliver(const float* interleaved, int frames, qint64 hostTimeNs) noexcept {
        if (m_failed.load(std::memory_order_relaxed))
            return;
        m_meter.add(interleaved, frames, m_device.channels);
        if (m_onBuffer)
            m_onBuffer(interleaved, frames, m_device.channels, hostTimeNs);
    }

    // Off the audio thread; only the first call reports.
    void fail(const QString& message) {
        if (!m_failed.exchange(true) && m_onError)
            m_onError(message);
    }

private:
    SoundDevice m_device;
    LevelMeter m_meter;
    SoundInputCallback m_onBuffer;
    SoundErrorCallback m_onError;
    std::atomic<bool> m_failed{false};
};

// A running output stream, pulling its samples from a callback.
class AudioOutputStream {
public:
    virtual ~AudioOutputStream() = default;
    AudioOutputStream(const AudioOutputStream&) = delete;
    AudioOutputStream& operator=(const AudioOutputStream&) = delete;

    const SoundDevice& device() const { return m_device; }
    int channels() const { return m_channels; }

    // From writing a sample to hearing it, as last reported by the device.
    qint64 latencyNs() const { return m_latencyNs.load(std::memory_order_relaxed); }

    bool failed() const { return m_failed.load(); }

protected:
    AudioOutputStream(SoundDevice device, int channels, SoundOutputCallback render,
                      SoundErrorCallback onError)
        : m_device(std::move(device)), m_channels(channels), m_render(std::move(render)),
          m_onError(std::move(onError)) {}

    // Audio thread: fills the buffer (silence when there is no callback or after a failure).
    void render(float* interleaved, int frames, qint64 hostTimeNs) noexcept {
        if (m_render && !m_failed.load(std::memory_order_relaxed)) {
            m_render(interleaved, frames, m_channels, hostTimeNs);
            return;
        }
        std::fill(interleaved, interleaved + qsizetype(frames) * m_channels, 0.0f);
    }

    void setLatencyNs(qint64 latency) noexcept {
        m_latencyNs.store(latency, std::memory_order_relaxed);
    }

    void fail(const QString& message) {
        if (!m_failed.exchange(true) && m_onError)
            m_onError(message);
    }

private:
    SoundDevice m_device;
    int m_channels;
    SoundOutputCallback m_render;
    SoundErrorCallback m_onError;
    std::atomic<qint64> m_latencyNs{0};
    std::atomic<bool> m_failed{false};
};

} // namespace reelbox
