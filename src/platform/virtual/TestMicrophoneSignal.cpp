#include "platform/virtual/TestMicrophoneSignal.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace reelbox {

TestMicrophoneSignal::TestMicrophoneSignal(int channels, int sampleRate)
    : m_channels(std::max(1, channels)), m_sampleRate(std::max(1000, sampleRate)),
      m_clickFrames(m_sampleRate / 1000) {
    // The phase of a whole-number frequency at frame n is (f × n mod rate) / rate exactly, so a
    // table of one second holds every value the tones can take.
    m_sine.resize(size_t(m_sampleRate));
    for (int i = 0; i < m_sampleRate; ++i)
        m_sine[size_t(i)] =
            toneAmplitude * float(std::sin(2.0 * std::numbers::pi * i / m_sampleRate));
    // A decaying burst with alternating sign: a sharp, broadband click.
    m_click.resize(size_t(m_clickFrames));
    for (int i = 0; i < m_clickFrames; ++i)
        m_click[size_t(i)] = clickAmplitude * float(std::exp(-4.0 * i / m_clickFrames)) *
                             (i % 2 == 0 ? 1.0f : -1.0f);
}

int TestMicrophoneSignal::toneFrequency(int channel) const {
    const int steps = std::max(1, (m_sampleRate / 2 - 1) / 220);
    return 220 * (channel % steps + 1);
}

float TestMicrophoneSignal::sample(int channel, qint64 frame) const {
    const qint64 inSecond = ((frame % m_sampleRate) + m_sampleRate) % m_sampleRate;
    if (inSecond < m_clickFrames)
        return m_click[size_t(inSecond)];
    const qint64 phase = (qint64(toneFrequency(channel)) * inSecond) % m_sampleRate;
    return m_sine[size_t(phase)];
}

void TestMicrophoneSignal::fill(float* interleaved, qint64 startFrame, qint64 frames) const {
    fillTones(interleaved, startFrame, frames);
    const qint64 firstSecond = (startFrame - m_clickFrames) / m_sampleRate;
    for (qint64 s = std::max<qint64>(0, firstSecond); s * m_sampleRate < startFrame + frames; ++s)
        writeClick(interleaved, startFrame, frames, s * m_sampleRate);
}

void TestMicrophoneSignal::writeClick(float* interleaved, qint64 startFrame, qint64 frames,
                                      qint64 clickFrame) const {
    const qint64 from = std::max(startFrame, clickFrame);
    const qint64 to = std::min(startFrame + frames, clickFrame + m_clickFrames);
    for (qint64 f = from; f < to; ++f)
        for (int c = 0; c < m_channels; ++c)
            interleaved[(f - startFrame) * m_channels + c] = m_click[size_t(f - clickFrame)];
}

void TestMicrophoneSignal::fillTones(float* interleaved, qint64 startFrame, qint64 frames) const {
    for (int c = 0; c < m_channels; ++c) {
        const qint64 frequency = toneFrequency(c);
        float* out = interleaved + c;
        qint64 inSecond = ((startFrame % m_sampleRate) + m_sampleRate) % m_sampleRate;
        qint64 phase = (frequency * inSecond) % m_sampleRate;
        for (qint64 i = 0; i < frames; ++i, out += m_channels) {
            *out = m_sine[size_t(phase)];
            phase += frequency;
            if (phase >= m_sampleRate)
                phase -= m_sampleRate;
            if (++inSecond == m_sampleRate) {
                inSecond = 0;
                phase = 0;
            }
        }
    }
}

} // namespace reelbox
