#pragma once

#include "audio/dsp/SlidingMax.h"

#include <cstddef>

namespace reelbox::dsp {

// The track compressor, driven by one amount c (0 ... 1):
//   threshold T = -35 c dB, head room H = 6 - 4 c dB, makeup 15.75 c dB,
//   attack 8 ms, release 200 ms.
// Static curve, on the peak level L in dBFS: below T the level passes; above it the output is
// T + H tanh((L - T) / H), which leaves the threshold with slope 1 and approaches T + H.
//
// Detection: the level is the largest |x| of the last 10 ms (a sliding peak hold). A bare |x|
// falls to zero twice per cycle, so the gain would ripple with the waveform and a steady tone's
// level would depend on its pitch; the hold spans a full period of |x| down to 50 Hz, so a
// steady tone gives a steady gain. The gain reduction the static curve asks for is smoothed in
// dB by a one-pole envelope: the attack constant while the reduction grows, the release
// constant while it shrinks. The hold delays the start of a release by up to 10 ms and never
// delays an attack. No look-ahead: the output is aligned with the input.
//
// With c = 0 the threshold is 0 dBFS and the makeup 0 dB, so anything below full scale passes
// unchanged, bit for bit.
class Compressor {
public:
    static constexpr double attackSeconds = 0.008;
    static constexpr double releaseSeconds = 0.200;
    static constexpr double holdSeconds = 0.010;

    Compressor(double compression, double sampleRate);

    // The amount is kept inside 0 ... 1. The envelope carries on.
    void setCompression(double compression);
    double compression() const { return m_compression; }

    double thresholdDB() const { return m_thresholdDB; }
    double headRoomDB() const { return m_headRoomDB; }
    double makeupGainDB() const { return m_makeupDB; }

    // The static curve with the makeup gain: the steady output peak level for an input level.
    double outputLevelDB(double inputLevelDB) const;

    // Clears the detector and the envelope.
    void reset();

    // Compresses a mono buffer in place. Consecutive calls continue one stream.
    void process(float* samples, std::size_t count);

private:
    double reductionDB(float peak) const;

    double m_sampleRate;
    double m_compression = 0;
    double m_thresholdDB = 0;
    double m_headRoomDB = 6;
    double m_makeupDB = 0;
    float m_thresholdLinear = 1;
    double m_attackCoefficient;
    double m_releaseCoefficient;

    SlidingMax m_hold; // peak of |x| over the hold time
    float m_lastPeak = 0;
    double m_targetDB = 0;
    double m_reductionDB = 0;
};

} // namespace reelbox::dsp
