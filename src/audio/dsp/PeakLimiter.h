#pragma once

#include "audio/dsp/SlidingMax.h"

#include <cstddef>
#include <vector>

namespace reelbox::dsp {

// Look-ahead peak limiter: ceiling 0 dBFS on the sample peak, 5 ms look-ahead, 24 ms release.
//
// It works on a whole signal at once and delays nothing: the detector reads the samples
// 5 ms ahead of the one it scales, in the same buffer, so the output stays aligned with the
// input and no tail has to be flushed (samples past the end count as silence).
//
// Gain computer, per sample n with look-ahead window w = look-ahead + 1 frames:
//   need[n]  = min(1, ceiling / |x[n]|)
//   hold[n]  = min(need[n ... n + w - 1])            future minimum over the window
//   env[n]   = hold[n] if it is lower than env[n-1], else it rises back towards hold[n]
//              with the 24 ms release time constant (so env <= hold always)
//   gain[n]  = mean(env[n - w + 1 ... n])            linear attack ramp over the look-ahead
// For a peak at p every env value in the mean is at most need[p], so |x[p]| * gain[p] never
// exceeds the ceiling; a final clamp only catches rounding in the last bit. The ramp starts
// 5 ms before the peak and has no steps, so limiting does not click.
// Where the signal and its look-ahead stay below the ceiling the gain is exactly 1 and the
// samples are left untouched, bit for bit.
class PeakLimiter {
public:
    static constexpr double lookAheadSeconds = 0.005;
    static constexpr double releaseSeconds = 0.024;
    static constexpr float ceiling = 1.0f;

    explicit PeakLimiter(double sampleRate);

    // Limits a whole mono signal in place. Each call is a signal of its own: the state
    // starts fresh, so one limiter can serve one track after another.
    void process(float* samples, std::size_t count);

    std::size_t lookAheadFrames() const { return m_window - 1; }

private:
    std::size_t m_window;
    double m_releaseCoefficient;
    SlidingMax m_peak;              // largest |x| over the window
    std::vector<double> m_envelope; // the last `window` envelope values, for the mean
};

} // namespace reelbox::dsp
