#include "audio/dsp/PeakLimiter.h"

#include "audio/dsp/FlushDenormals.h"

#include <algorithm>
#include <cmath>

namespace reelbox::dsp {

namespace {

// Frames run through each pass at once.
constexpr std::size_t block = 256;

// How far a quiet stretch is skipped at once.
constexpr std::size_t quietBlock = 1024;

// An envelope this close to 1 is no gain change at all in single precision: the gains of a
// window of them come out as exactly 1, and the samples pass through untouched.
constexpr double recoveredEnvelope = 1 - 1e-9;

// The first index in [begin, end) whose sample is over the ceiling, or end.
std::size_t firstOver(const float* samples, std::size_t begin, std::size_t end) {
    constexpr std::size_t chunk = 64;
    std::size_t i = begin;
    // Whole chunks first, with a reduction the compiler can vectorise.
    for (; i + chunk <= end; i += chunk) {
        float peak = 0;
        for (std::size_t k = 0; k < chunk; ++k)
            peak = std::max(peak, std::fabs(samples[i + k]));
        if (peak > PeakLimiter::ceiling)
            break;
    }
    for (; i < end; ++i) {
        if (std::fabs(samples[i]) > PeakLimiter::ceiling)
            return i;
    }
    return end;
}

} // namespace

PeakLimiter::PeakLimiter(double sampleRate)
    : m_window(static_cast<std::size_t>(std::llround(lookAheadSeconds * sampleRate)) + 1),
      m_releaseCoefficient(std::exp(-1.0 / (releaseSeconds * sampleRate))), m_peak(m_window),
      m_envelope(m_window, 1.0) {}

void PeakLimiter::process(float* samples, std::size_t count) {
    if (count == 0)
        return;
    ScopedFlushDenormals flush;
    const std::size_t window = m_window;
    const std::size_t lookAhead = window - 1;
    const double release = m_releaseCoefficient;
    const double inverseWindow = 1.0 / static_cast<double>(window);
    double* const ring = m_envelope.data();
    float peaks[block];
    float holds[block];
    double steps[block];
    float gains[block];

    m_peak.reset();
    std::fill(m_envelope.begin(), m_envelope.end(), 1.0);
    std::size_t ringPos = 0;
    double envelope = 1;
    double sum = static_cast<double>(window);
    // The last detector frame whose envelope was not yet back at 1; once a whole window has
    // passed since, every gain in the mean is 1.
    std::size_t lastReduced = 0;
    bool reducedYet = false;
    float windowPeak = 0; // largest |x| that the window holds

    // The detector reads frame `ahead`; the gain it makes belongs to frame ahead - lookAhead.
    // It starts at frame 0 while the output starts lookAhead frames later, as if silence came
    // before the signal, so a loud start is ramped into as well.
    const std::size_t end = count + lookAhead;
    std::size_t ahead = 0;
    std::size_t nextQuietCheck = 0;
    while (ahead < end) {
        // At rest (envelope back at 1 for a whole window, nothing over the ceiling in the
        // window), the outputs whose look-ahead reaches no loud sample pass untouched.
        const bool atRest = !reducedYet || ahead >= lastReduced + window + 1;
        if (atRest && ahead >= nextQuietCheck && ahead >= lookAhead && windowPeak <= ceiling) {
            const std::size_t out = ahead - lookAhead;
            const std::size_t blockEnd = std::min(out + quietBlock, count);
            const std::size_t scanBegin = std::min(ahead, count);
            const std::size_t scanEnd = std::min(blockEnd + lookAhead, count);
            const std::size_t loud = firstOver(samples, scanBegin, scanEnd);
            const std::size_t quietEnd = loud == scanEnd ? blockEnd : loud - lookAhead;
            if (quietEnd > out) {
                ahead = quietEnd + lookAhead;
                m_peak.reset(); // what was skipped is at or below the ceiling: as good as 0
                if (reducedYet) {
                    std::fill(m_envelope.begin(), m_envelope.end(), 1.0);
                    envelope = 1;
                    sum = static_cast<double>(window);
                    reducedYet = false;
                }
                continue;
            }
            nextQuietCheck = loud + 1;
        }

        const std::size_t n = std::min(block, end - ahead);

        // Detector: the window's peak for each frame read, and the gain it needs.
        const std::size_t real = ahead < count ? std::min(n, count - ahead) : 0;
        m_peak.pushMagnitudes(samples + ahead, peaks, real);
        for (std::size_t j = real; j < n; ++j)
            peaks[j] = m_peak.push(0.0f); // past the end: silence
        windowPeak = peaks[n - 1];
        for (std::size_t j = 0; j < n; ++j) {
            holds[j] = ceiling / std::max(peaks[j], ceiling); // exactly 1 when not over
            steps[j] = (1 - release) * holds[j];
        }

        // Envelope and mean. min(hold, c e + (1 - c) hold) is the hold when it lies below the
        // envelope and the release step towards it otherwise; one multiply, one add and a min
        // from one frame to the next.
        for (std::size_t j = 0; j < n; ++j) {
            envelope = std::min(static_cast<double>(holds[j]), release * envelope + steps[j]);
            const double oldest = ring[ringPos];
            ring[ringPos] = envelope;
            ringPos = ringPos + 1 == window ? 0 : ringPos + 1;
            sum += envelope - oldest;
            gains[j] = static_cast<float>(sum * inverseWindow);
            if (envelope < recoveredEnvelope) {
                lastReduced = ahead + j;
                reducedYet = true;
            }
        }

        // Gains onto the frames lookAhead behind the detector.
        const std::size_t first = ahead >= lookAhead ? 0 : lookAhead - ahead;
        for (std::size_t j = first; j < n; ++j) {
            float& y = samples[ahead + j - lookAhead];
            y = std::clamp(y * gains[j], -ceiling, ceiling);
        }
        ahead += n;
    }
}

} // namespace reelbox::dsp
