#pragma once

// Signals and measurements shared by the effect tests.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>
#include <numbers>
#include <random>
#include <vector>

namespace reelbox::dsp::test {

constexpr double sampleRate = 48000;

inline std::size_t framesOf(double seconds) {
    return static_cast<std::size_t>(std::llround(seconds * sampleRate));
}

inline double toDB(double linear) {
    return 20 * std::log10(linear);
}

inline std::vector<float> sine(std::size_t count, double frequencyHz, double amplitude) {
    std::vector<float> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = static_cast<float>(
            amplitude * std::sin(2 * std::numbers::pi * frequencyHz * double(i) / sampleRate));
    return out;
}

inline std::vector<float> noise(std::size_t count, double amplitude, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> uniform(-amplitude, amplitude);
    std::vector<float> out(count);
    for (float& v : out)
        v = static_cast<float>(uniform(generator));
    return out;
}

inline std::vector<float> impulse(std::size_t count, float amplitude = 1.0f) {
    std::vector<float> out(count, 0.0f);
    out[0] = amplitude;
    return out;
}

inline float peak(const float* samples, std::size_t count) {
    float p = 0;
    for (std::size_t i = 0; i < count; ++i)
        p = std::max(p, std::fabs(samples[i]));
    return p;
}

// |DFT| of a (decayed) impulse response at one frequency, in dB.
inline double responseDB(const std::vector<float>& ir, double frequencyHz) {
    const double w = 2 * std::numbers::pi * frequencyHz / sampleRate;
    std::complex<double> sum = 0;
    for (std::size_t n = 0; n < ir.size(); ++n)
        sum += double(ir[n]) * std::polar(1.0, -w * double(n));
    return toDB(std::abs(sum));
}

// Band-pass of two octaves around a centre frequency (cookbook band-pass, 0 dB peak), run
// twice for steeper skirts; used to measure decay times in one band.
inline std::vector<double> bandPass(const std::vector<float>& in, double centreHz) {
    const double w0 = 2 * std::numbers::pi * centreHz / sampleRate;
    const double alpha = std::sin(w0) * std::sinh(std::numbers::ln2 / 2 * 2.0 * w0 / std::sin(w0));
    const double a0 = 1 + alpha;
    const double b0 = alpha / a0, b2 = -alpha / a0, a1 = -2 * std::cos(w0) / a0,
                 a2 = (1 - alpha) / a0;
    std::vector<double> x(in.begin(), in.end());
    for (int pass = 0; pass < 2; ++pass) {
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (double& v : x) {
            const double y = b0 * v + b2 * x2 - a1 * y1 - a2 * y2;
            x2 = x1;
            x1 = v;
            y2 = y1;
            y1 = y;
            v = y;
        }
    }
    return x;
}

// Decay time from an impulse response by Schroeder backward integration: a straight line
// fitted to the energy decay curve between -5 and -35 dB (T30), extended to -60 dB.
inline double schroederRT60(const std::vector<double>& ir) {
    std::vector<double> edc(ir.size());
    double sum = 0;
    for (std::size_t i = ir.size(); i-- > 0;) {
        sum += ir[i] * ir[i];
        edc[i] = sum;
    }
    const double total = edc[0];
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    std::size_t points = 0;
    for (std::size_t i = 0; i < edc.size(); ++i) {
        const double db = 10 * std::log10(edc[i] / total);
        if (db > -5)
            continue;
        if (db < -35)
            break;
        const double t = double(i) / sampleRate;
        sx += t;
        sy += db;
        sxx += t * t;
        sxy += t * db;
        ++points;
    }
    const double slope = (double(points) * sxy - sx * sy) / (double(points) * sxx - sx * sx);
    return -60 / slope;
}

inline double correlation(const float* a, const float* b, std::size_t count) {
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < count; ++i) {
        ab += double(a[i]) * b[i];
        aa += double(a[i]) * a[i];
        bb += double(b[i]) * b[i];
    }
    return ab / std::sqrt(aa * bb);
}

} // namespace reelbox::dsp::test
