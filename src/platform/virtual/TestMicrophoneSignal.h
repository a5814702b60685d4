#pragma once

#include "platform/SampleRate.h"

#include <QtGlobal>
#include <vector>

namespace reelbox {

// The "Test Microphone" sound: on channel c a steady sine of toneFrequency(c) Hz at amplitude
// 0.25, and on every channel a click at each whole second (frames n × sampleRate …
// + clickFrames − 1), the instant of the test camera's white flash. A pure function of the
// absolute frame index, so any stretch can be rendered, and predicted, on its own.
class TestMicrophoneSignal {
public:
    static constexpr float toneAmplitude = 0.25f;
    static constexpr float clickAmplitude = 0.9f;

    explicit TestMicrophoneSignal(int channels, int sampleRate = audioSampleRate);

    int channels() const { return m_channels; }
    int sampleRate() const { return m_sampleRate; }
    int clickFrames() const { return m_clickFrames; }

    // 220 Hz × (c + 1), folded back below half the sample rate.
    int toneFrequency(int channel) const;

    // The sample of one channel at an absolute frame index.
    float sample(int channel, qint64 frame) const;

    void fill(float* interleaved, qint64 startFrame, qint64 frames) const;

    // The tones alone, and one click of every channel starting at `clickFrame` written over
    // the part of the stretch it covers: for a clock whose seconds are not whole frames.
    void fillTones(float* interleaved, qint64 startFrame, qint64 frames) const;
    void writeClick(float* interleaved, qint64 startFrame, qint64 frames, qint64 clickFrame) const;

private:
    int m_channels;
    int m_sampleRate;
    int m_clickFrames;
    std::vector<float> m_sine;  // one period of sine, sampleRate entries
    std::vector<float> m_click; // clickFrames entries
};

} // namespace reelbox
