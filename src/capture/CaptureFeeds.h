#pragma once

// What the device threads hand to the capture engine's data thread: single-producer,
// single-consumer rings, filled without locks or allocation. Internal to the engine.

#include "platform/HostClock.h"
#include "platform/SampleRate.h"
#include "platform/camera/CameraStream.h"

#include <QtGlobal>
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

namespace reelbox {

// Sound buffers with their host stamps and their place on the device's sample counter. The
// counter follows the stamps: a buffer stamped later than the end of the one before (a lost
// cycle, an overrun) leaves the missing time on the counter as a gap, which the writer fills
// with silence, so the sound after it stays in place.
class AudioFeed {
public:
    struct Block {
        qint64 position = 0; // the device's sample counter at the first frame
        int frames = 0;
        qint64 hostTimeNs = 0;
    };

    AudioFeed(int channels, qint64 capacityFrames)
        : m_channels(channels), m_capacity(capacityFrames),
          m_samples(size_t(capacityFrames * channels)) {}

    int channels() const { return m_channels; }
    // Frames the data thread did not take in time; they stay on the counter as a gap.
    qint64 lostFrames() const { return m_lost.load(std::memory_order_relaxed); }
    // Frames the device never delivered (gaps between the stamps), kept as silence.
    qint64 gapFrames() const { return m_gaps.load(std::memory_order_relaxed); }

    // Audio thread.
    void push(const float* interleaved, int frames, qint64 hostTimeNs) noexcept {
        if (m_expectedNs != 0) {
            const qint64 lateFrames =
                ((hostTimeNs - m_expectedNs) * sampleRate + nsPerSecond / 2) / nsPerSecond;
            // Stamps jitter by far less than half a buffer; a lost buffer moves them by a whole.
            if (lateFrames >= std::max<qint64>(minimumGapFrames, frames / 2)) {
                m_position += lateFrames;
                m_gaps.fetch_add(lateFrames, std::memory_order_relaxed);
            }
        }
        m_expectedNs = hostTimeNs + qint64(frames) * nsPerSecond / sampleRate;
        const qint64 position = m_position;
        m_position += frames;
        const quint64 writeBlock = m_writeBlock.load(std::memory_order_relaxed);
        const qint64 writeFrame = m_writeFrame.load(std::memory_order_relaxed);
        if (writeBlock - m_readBlock.load(std::memory_order_acquire) >= m_blocks.size() ||
            writeFrame + frames - m_readFrame.load(std::memory_order_acquire) > m_capacity) {
            m_lost.fetch_add(frames, std::memory_order_relaxed);
            return;
        }
        copyIn(interleaved, writeFrame, frames);
        m_blocks[writeBlock % m_blocks.size()] = Block{position, frames, hostTimeNs};
        m_writeFrame.store(writeFrame + frames, std::memory_order_release);
        m_writeBlock.store(writeBlock + 1, std::memory_order_release);
    }

    // Data thread: the next block and its samples (interleaved, into `samples`).
    bool pop(Block& block, std::vector<float>& samples) {
        const quint64 readBlock = m_readBlock.load(std::memory_order_relaxed);
        if (readBlock == m_writeBlock.load(std::memory_order_acquire))
            return false;
        block = m_blocks[readBlock % m_blocks.size()];
        const qint64 readFrame = m_readFrame.load(std::memory_order_relaxed);
        samples.resize(size_t(block.frames * m_channels));
        const qint64 at = readFrame % m_capacity;
        const qint64 first = std::min<qint64>(block.frames, m_capacity - at);
        std::memcpy(samples.data(), &m_samples[size_t(at * m_channels)],
                    size_t(first * m_channels) * sizeof(float));
        std::memcpy(samples.data() + first * m_channels, m_samples.data(),
                    size_t((block.frames - first) * m_channels) * sizeof(float));
        m_readFrame.store(readFrame + block.frames, std::memory_order_release);
        m_readBlock.store(readBlock + 1, std::memory_order_release);
        return true;
    }

private:
    static constexpr qint64 sampleRate = audioSampleRate;
    static constexpr qint64 minimumGapFrames = sampleRate / 1000; // 1 ms

    void copyIn(const float* interleaved, qint64 writeFrame, int frames) noexcept {
        const qint64 at = writeFrame % m_capacity;
        const qint64 first = std::min<qint64>(frames, m_capacity - at);
        std::memcpy(&m_samples[size_t(at * m_channels)], interleaved,
                    size_t(first * m_channels) * sizeof(float));
        std::memcpy(m_samples.data(), interleaved + first * m_channels,
                    size_t((frames - first) * m_channels) * sizeof(float));
    }

    const int m_channels;
    const qint64 m_capacity;
    std::vector<float> m_samples;
    std::array<Block, 1024> m_blocks{};
    qint64 m_position = 0;   // audio thread only
    qint64 m_expectedNs = 0; // audio thread: the stamp the next buffer should carry
    std::atomic<quint64> m_writeBlock{0}, m_readBlock{0};
    std::atomic<qint64> m_writeFrame{0}, m_readFrame{0};
    std::atomic<qint64> m_lost{0};
    std::atomic<qint64> m_gaps{0};
};

// Camera frames. A full ring drops the new frame and counts it.
class VideoFeed {
public:
    // Camera thread. The slot was emptied by pop(), so no picture is released here.
    bool push(const CameraFrame& frame) noexcept {
        const quint64 write = m_write.load(std::memory_order_relaxed);
        if (write - m_read.load(std::memory_order_acquire) >= m_slots.size()) {
            m_dropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        m_slots[write % m_slots.size()] = frame;
        m_write.store(write + 1, std::memory_order_release);
        return true;
    }

    // Data thread.
    bool pop(CameraFrame& frame) {
        const quint64 read = m_read.load(std::memory_order_relaxed);
        if (read == m_write.load(std::memory_order_acquire))
            return false;
        frame = std::move(m_slots[read % m_slots.size()]);
        m_slots[read % m_slots.size()] = CameraFrame{};
        m_read.store(read + 1, std::memory_order_release);
        return true;
    }

    qint64 dropped() const { return m_dropped.load(std::memory_order_relaxed); }

private:
    std::array<CameraFrame, 8> m_slots{};
    std::atomic<quint64> m_write{0}, m_read{0};
    std::atomic<qint64> m_dropped{0};
};

} // namespace reelbox
