#include "audio/dsp/Compressor.h"

#include "audio/dsp/FastMath.h"
#include "audio/dsp/FlushDenormals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace reelbox::dsp {

namespace {

// Frames per pass: the envelope is followed sample by sample into a block of gains, which
// are then turned from dB into factors and applied in loops the compiler vectorises.
constexpr std::size_t block = 256;

double onePoleCoefficient(double seconds, double sampleRate) {
    return std::exp(-1.0 / (seconds * sampleRate));
}

} // namespace

Compressor::Compressor(double compression, double sampleRate)
    : m_sampleRate(sampleRate), m_attackCoefficient(onePoleCoefficient(attackSeconds, sampleRate)),
      m_releaseCoefficient(onePoleCoefficient(releaseSeconds, sampleRate)),
      m_hold(static_cast<std::size_t>(std::max(1.0, std::round(holdSeconds * sampleRate)))) {
    setCompression(compression);
}

void Compressor::setCompression(double compression) {
    const double c = std::clamp(compression, 0.0, 1.0);
    m_compression = c;
    m_thresholdDB = -35 * c;
    m_headRoomDB = 6 - 4 * c;
    m_makeupDB = 15.75 * c;
    m_thresholdLinear = static_cast<float>(std::pow(10.0, m_thresholdDB / 20));
    m_targetDB = reductionDB(m_lastPeak);
}

double Compressor::outputLevelDB(double inputLevelDB) const {
    const double over = inputLevelDB - m_thresholdDB;
    const double level =
        over > 0 ? m_thresholdDB + m_headRoomDB * std::tanh(over / m_headRoomDB) : inputLevelDB;
    return level + m_makeupDB;
}

double Compressor::reductionDB(float peak) const {
    if (!(peak > m_thresholdLinear))
        return 0;
    const double over = 20 * std::log10(static_cast<double>(peak)) - m_thresholdDB;
    return over - m_headRoomDB * std::tanh(over / m_headRoomDB);
}

void Compressor::reset() {
    m_hold.reset();
    m_lastPeak = 0;
    m_targetDB = 0;
    m_reductionDB = 0;
}

void Compressor::process(float* samples, std::size_t count) {
    ScopedFlushDenormals flush;
    float peaks[block];
    float gains[block];
    const double attack = m_attackCoefficient;
    const double release = m_releaseCoefficient;
    // Gains leave the envelope as log2 of the factor.
    const double dbToLog2 = std::numbers::log2e * std::numbers::ln10 / 20;
    const double makeupLog2 = m_makeupDB * dbToLog2;
    float lastPeak = m_lastPeak;
    double target = m_targetDB;
    double reduction = m_reductionDB;
    // The envelope step r = c r + (1 - c) target, with (1 - c) target kept per target.
    double attackStep = (1 - attack) * target;
    double releaseStep = (1 - release) * target;

    for (std::size_t start = 0; start < count; start += block) {
        float* const x = samples + start;
        const std::size_t n = std::min(block, count - start);
        m_hold.pushMagnitudes(x, peaks, n);
        for (std::size_t i = 0; i < n; ++i) {
            const float peak = peaks[i];
            if (peak != lastPeak) {
                lastPeak = peak;
                target = reductionDB(peak);
                attackStep = (1 - attack) * target;
                releaseStep = (1 - release) * target;
            }
            // Attack while the reduction grows, release while it shrinks. With the attack
            // coefficient the smaller one, (attacked - released) = (a - r)(reduction - target)
            // is positive exactly when the target lies above, so the larger of the two is the
            // right step, and no branch sits on the path from one sample to the next.
            const double attacked = attack * reduction + attackStep;
            const double released = release * reduction + releaseStep;
            reduction = std::max(attacked, released);
            gains[i] = static_cast<float>(std::max(makeupLog2 - reduction * dbToLog2, -126.0));
        }
        for (std::size_t i = 0; i < n; ++i)
            gains[i] = fastExp2(gains[i]);
        for (std::size_t i = 0; i < n; ++i)
            x[i] *= gains[i];
    }

    m_lastPeak = lastPeak;
    m_targetDB = target;
    m_reductionDB = reduction;
}

} // namespace reelbox::dsp
