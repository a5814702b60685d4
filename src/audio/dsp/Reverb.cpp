#include "audio/dsp/Reverb.h"

#include "audio/dsp/FlushDenormals.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace reelbox::dsp {

namespace {

constexpr int lines = Reverb::lineCount;

// Largest block of frames run through the stages at once.
constexpr std::size_t maxBlock = 64;

// The frequency at which a preset's decay time holds exactly.
constexpr double referenceHz = 1000;
// The frequency at which the preset's high-frequency decay time holds.
constexpr double highHz = 8000;

// Energy at 1 kHz that a centred unit impulse returns in each output (-6 dB).
constexpr double tailEnergy = 0.25;

// Input and output sign patterns. The two output patterns are orthogonal, and none of the
// four is a row of the Hadamard matrix (which would make the matrix hand it to a single line).
constexpr std::array<float, lines> signsInL = {1, 1, -1, 1, 1, -1, -1, -1};
constexpr std::array<float, lines> signsInR = {1, -1, 1, 1, -1, -1, 1, -1};
constexpr std::array<float, lines> signsOutL = {1, 1, -1, 1, -1, -1, 1, -1};
constexpr std::array<float, lines> signsOutR = {1, -1, -1, -1, 1, -1, 1, 1};

// Allpass lengths in seconds; left and right differ so the two sides diffuse differently.
constexpr std::array<double, Reverb::diffuserCount> diffuserSecondsL = {0.00131, 0.00283, 0.00449,
                                                                        0.00661};
constexpr std::array<double, Reverb::diffuserCount> diffuserSecondsR = {0.00157, 0.00311, 0.00487,
                                                                        0.00703};

bool isPrime(std::size_t n) {
    if (n < 2)
        return false;
    for (std::size_t d = 2; d * d <= n; ++d) {
        if (n % d == 0)
            return false;
    }
    return true;
}

// The smallest prime at or above n that is not taken yet: mutually prime line lengths keep
// their echoes from piling up on the same frames.
std::size_t primeFrom(std::size_t n, const std::size_t* taken, int takenCount) {
    for (;; ++n) {
        if (isPrime(n) && std::find(taken, taken + takenCount, n) == taken + takenCount)
            return n;
    }
}

std::size_t frames(double seconds, double sampleRate) {
    return static_cast<std::size_t>(std::llround(seconds * sampleRate));
}

} // namespace

ReverbPresetParameters reverbPresetParameters(ReverbPreset preset) {
    switch (preset) {
    case ReverbPreset::smallRoom:
        return {0.4, 0.005, 0.006, 0.019, 0.45, 0.60};
    case ReverbPreset::mediumRoom:
        return {0.7, 0.010, 0.009, 0.029, 0.50, 0.62};
    case ReverbPreset::largeRoom:
        return {1.2, 0.015, 0.013, 0.043, 0.55, 0.65};
    case ReverbPreset::hall:
        return {1.8, 0.020, 0.019, 0.061, 0.55, 0.68};
    case ReverbPreset::largeHall:
        return {2.6, 0.025, 0.025, 0.080, 0.55, 0.70};
    case ReverbPreset::plate:
        return {1.6, 0.0, 0.007, 0.031, 0.85, 0.75};
    case ReverbPreset::cathedral:
        return {4.5, 0.040, 0.035, 0.110, 0.50, 0.70};
    }
    return {0.7, 0.010, 0.009, 0.029, 0.50, 0.62};
}

Reverb::Reverb(ReverbPreset preset, double sampleRate)
    : m_preset(preset), m_parameters(reverbPresetParameters(preset)) {
    const ReverbPresetParameters& p = m_parameters;

    // Diffusers: the first two at the preset's diffusion, the last two a little lighter.
    std::array<std::size_t, 2 * diffuserCount> diffuserLengths{};
    for (int k = 0; k < 2 * diffuserCount; ++k) {
        const double seconds =
            k < diffuserCount ? diffuserSecondsL[k] : diffuserSecondsR[k - diffuserCount];
        diffuserLengths[k] = primeFrom(std::max<std::size_t>(2, frames(seconds, sampleRate)),
                                       diffuserLengths.data(), k);
        m_diffuserGains[k] =
            static_cast<float>(p.diffusion * ((k % diffuserCount) < 2 ? 1.0 : 0.83));
    }

    // Line lengths, geometric between the shortest and the longest.
    std::array<std::size_t, lines> lineLengths{};
    const double ratio = p.longestLineSeconds / p.shortestLineSeconds;
    double meanLength = 0;
    for (int i = 0; i < lines; ++i) {
        const double seconds = p.shortestLineSeconds * std::pow(ratio, i / double(lines - 1));
        lineLengths[i] =
            primeFrom(std::max<std::size_t>(2, frames(seconds, sampleRate)), lineLengths.data(), i);
        meanLength += static_cast<double>(lineLengths[i]) / lines;
    }

    m_block = std::min({maxBlock, *std::min_element(diffuserLengths.begin(), diffuserLengths.end()),
                        *std::min_element(lineLengths.begin(), lineLengths.end())});
    m_preDelayFrames = frames(p.preDelaySeconds, sampleRate);
    m_preDelayL = DelayLine(m_preDelayFrames, m_block);
    m_preDelayR = DelayLine(m_preDelayFrames, m_block);
    for (int k = 0; k < 2 * diffuserCount; ++k)
        m_diffusers[k] = DelayLine(diffuserLengths[k], m_block);
    for (int i = 0; i < lines; ++i)
        m_lines[i] = DelayLine(lineLengths[i], m_block);
    m_diffusedL.assign(m_block, 0.0f);
    m_diffusedR.assign(m_block, 0.0f);
    m_lineOutputs.assign(m_block * lines, 0.0f);

    // Damping: per line, gain gRef at 1 kHz and gHigh at 8 kHz, from the two decay times.
    // For the one-pole a / (1 - b z^-1), with rho = gHigh / gRef and c1, c2 the cosines of the
    // two frequencies, |H(w2)| / |H(w1)| = rho gives
    //   (1 - rho^2) b^2 - 2 (c1 - rho^2 c2) b + (1 - rho^2) = 0,
    // of which b is the root in [0, 1); then a = gRef sqrt(1 - 2 b c1 + b^2).
    const double c1 = std::cos(2 * std::numbers::pi * referenceHz / sampleRate);
    const double c2 =
        std::cos(2 * std::numbers::pi * std::min(highHz, 0.45 * sampleRate) / sampleRate);
    double meanSquareGain = 0;
    for (int i = 0; i < lines; ++i) {
        const double m = static_cast<double>(lineLengths[i]);
        const double gRef = std::pow(10.0, -3 * m / (p.rt60Seconds * sampleRate));
        const double gHigh =
            std::pow(10.0, -3 * m / (p.rt60Seconds * p.highFrequencyRatio * sampleRate));
        const double r2 = std::pow(gHigh / gRef, 2);
        double b = 0;
        if (r2 < 1) {
            const double q = c1 - r2 * c2;
            b = (q - std::sqrt(std::max(0.0, q * q - (1 - r2) * (1 - r2)))) / (1 - r2);
        }
        // The gain at DC, a / (1 - b), is a little above gRef; keep it below 1 regardless.
        const double a = std::min(gRef * std::sqrt(1 - 2 * b * c1 + b * b), 0.9999 * (1 - b));
        m_dampInput[i] = static_cast<float>(a);
        m_dampFeedback[i] = static_cast<float>(b);
        meanSquareGain += gRef * gRef / lines;
    }

    // Level, at 1 kHz where the decay is exact. Energy E spread evenly (per frame) over the
    // lines leaves them at E / meanLength per frame, scaled by the loop gains g^2 on the way
    // out, while E decays by 13.8 / (RT60 fs) nepers per frame. So a unit of energy injected
    // yields about trips = RT60 fs / (13.8 meanLength) times mean(g^2) at the taps in all,
    // and the early path adds mean(g^2) of its own side's half of a centred impulse. The taps
    // are set so that this sum is tailEnergy.
    const double trips = p.rt60Seconds * sampleRate / (13.8 * meanLength);
    const double tap = std::sqrt(tailEnergy / (meanSquareGain * (trips + 0.5)));
    const double injection = 1 / std::sqrt(double(lines)); // unit energy into the lines
    for (int i = 0; i < lines; ++i) {
        m_inputL[i] = static_cast<float>(signsInL[i] * injection);
        m_inputR[i] = static_cast<float>(signsInR[i] * injection);
        m_outputL[i] = static_cast<float>(signsOutL[i] * tap);
        m_outputR[i] = static_cast<float>(signsOutR[i] * tap);
    }
    m_earlyGain = static_cast<float>(tap * std::sqrt(meanSquareGain));

    reset();
}

void Reverb::reset() {
    m_preDelayL.clear();
    m_preDelayR.clear();
    for (DelayLine& d : m_diffusers)
        d.clear();
    for (DelayLine& line : m_lines)
        line.clear();
    m_dampState.fill(0.0f);
}

void Reverb::process(const float* inL, const float* inR, float* outL, float* outR, std::size_t n) {
    ScopedFlushDenormals flush;
    for (std::size_t start = 0; start < n; start += m_block) {
        const std::size_t count = std::min(m_block, n - start);
        processBlock(inL + start, inR + start, outL + start, outR + start, count);
    }
}

void Reverb::processBlock(const float* inL, const float* inR, float* outL, float* outR,
                          std::size_t n) {
    float* __restrict const xL = m_diffusedL.data();
    float* __restrict const xR = m_diffusedR.data();

    // Pre-delay (written first, so a pre-delay shorter than the block reads the new frames).
    std::copy(inL, inL + n, m_preDelayL.writeBlock(n));
    std::copy(inR, inR + n, m_preDelayR.writeBlock(n));
    std::copy(m_preDelayL.readBlock(), m_preDelayL.readBlock() + n, xL);
    std::copy(m_preDelayR.readBlock(), m_preDelayR.readBlock() + n, xR);
    m_preDelayL.advance(n);
    m_preDelayR.advance(n);

    // Diffusion: Schroeder allpasses (-g + z^-m) / (1 - g z^-m), four per side, each over the
    // whole block.
    for (int k = 0; k < 2 * diffuserCount; ++k) {
        DelayLine& d = m_diffusers[k];
        const float g = m_diffuserGains[k];
        float* __restrict const x = k < diffuserCount ? xL : xR;
        float* __restrict const w = d.writeBlock(n);
        const float* __restrict const delayed = d.readBlock();
        for (std::size_t t = 0; t < n; ++t) {
            const float v = x[t] + g * delayed[t];
            w[t] = v;
            x[t] = delayed[t] - g * v;
        }
        d.advance(n);
    }

    // The lines' outputs through their damping filters: eight recursions side by side.
    const std::size_t stride = m_block;
    float* __restrict const f = m_lineOutputs.data();
    {
        const float* source[lines];
        for (int i = 0; i < lines; ++i)
            source[i] = m_lines[i].readBlock();
        std::array<float, lines> state = m_dampState;
        for (std::size_t t = 0; t < n; ++t) {
            for (int i = 0; i < lines; ++i) {
                state[i] = m_dampInput[i] * source[i][t] + m_dampFeedback[i] * state[i];
                f[i * stride + t] = state[i];
            }
        }
        m_dampState = state;
    }

    // Outputs: the early path plus the taps, one line at a time over the block.
    for (std::size_t t = 0; t < n; ++t) {
        outL[t] = m_earlyGain * xL[t];
        outR[t] = m_earlyGain * xR[t];
    }
    for (int i = 0; i < lines; ++i) {
        const float* __restrict const row = f + i * stride;
        const float tapL = m_outputL[i];
        const float tapR = m_outputR[i];
        for (std::size_t t = 0; t < n; ++t) {
            outL[t] += tapL * row[t];
            outR[t] += tapR * row[t];
        }
    }

    // Feedback through the Hadamard matrix (unnormalised fast transform, then 1/sqrt(8) with
    // the new input), row by row over the block.
    for (int span = 1; span < lines; span *= 2) {
        for (int i = 0; i < lines; i += 2 * span) {
            for (int j = i; j < i + span; ++j) {
                float* __restrict const a = f + j * stride;
                float* __restrict const b = f + (j + span) * stride;
                for (std::size_t t = 0; t < n; ++t) {
                    const float sum = a[t] + b[t];
                    const float difference = a[t] - b[t];
                    a[t] = sum;
                    b[t] = difference;
                }
            }
        }
    }
    const float scale = static_cast<float>(1 / std::sqrt(double(lines)));
    for (int i = 0; i < lines; ++i) {
        float* __restrict const w = m_lines[i].writeBlock(n);
        const float* __restrict const row = f + i * stride;
        const float gainL = m_inputL[i];
        const float gainR = m_inputR[i];
        for (std::size_t t = 0; t < n; ++t)
            w[t] = scale * row[t] + gainL * xL[t] + gainR * xR[t];
        m_lines[i].advance(n);
    }
}

} // namespace reelbox::dsp
