#include "audio/dsp/Biquad.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>

namespace reelbox::dsp {

namespace {

double angularFrequency(double frequencyHz, double sampleRate) {
    const double f = std::clamp(frequencyHz, 1.0, 0.49 * sampleRate);
    return 2 * std::numbers::pi * f / sampleRate;
}

BiquadCoefficients normalised(double b0, double b1, double b2, double a0, double a1, double a2) {
    return {b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0};
}

// The cookbook's shelf alpha for slope S.
double shelfAlpha(double sinW0, double a, double slope) {
    return sinW0 / 2 * std::sqrt((a + 1 / a) * (1 / slope - 1) + 2);
}

} // namespace

BiquadCoefficients designHighPass(double frequencyHz, double q, double sampleRate) {
    const double w0 = angularFrequency(frequencyHz, sampleRate);
    const double cosW0 = std::cos(w0);
    const double alpha = std::sin(w0) / (2 * q);
    return normalised((1 + cosW0) / 2, -(1 + cosW0), (1 + cosW0) / 2, 1 + alpha, -2 * cosW0,
                      1 - alpha);
}

BiquadCoefficients designLowPass(double frequencyHz, double q, double sampleRate) {
    const double w0 = angularFrequency(frequencyHz, sampleRate);
    const double cosW0 = std::cos(w0);
    const double alpha = std::sin(w0) / (2 * q);
    return normalised((1 - cosW0) / 2, 1 - cosW0, (1 - cosW0) / 2, 1 + alpha, -2 * cosW0,
                      1 - alpha);
}

BiquadCoefficients designLowShelf(double frequencyHz, double gainDB, double slope,
                                  double sampleRate) {
    const double a = std::pow(10.0, gainDB / 40);
    const double w0 = angularFrequency(frequencyHz, sampleRate);
    const double cosW0 = std::cos(w0);
    const double twoSqrtAAlpha = 2 * std::sqrt(a) * shelfAlpha(std::sin(w0), a, slope);
    return normalised(
        a * ((a + 1) - (a - 1) * cosW0 + twoSqrtAAlpha), 2 * a * ((a - 1) - (a + 1) * cosW0),
        a * ((a + 1) - (a - 1) * cosW0 - twoSqrtAAlpha), (a + 1) + (a - 1) * cosW0 + twoSqrtAAlpha,
        -2 * ((a - 1) + (a + 1) * cosW0), (a + 1) + (a - 1) * cosW0 - twoSqrtAAlpha);
}

BiquadCoefficients designHighShelf(double frequencyHz, double gainDB, double slope,
                                   double sampleRate) {
    const double a = std::pow(10.0, gainDB / 40);
    const double w0 = angularFrequency(frequencyHz, sampleRate);
    const double cosW0 = std::cos(w0);
    const double twoSqrtAAlpha = 2 * std::sqrt(a) * shelfAlpha(std::sin(w0), a, slope);
    return normalised(
        a * ((a + 1) + (a - 1) * cosW0 + twoSqrtAAlpha), -2 * a * ((a - 1) + (a + 1) * cosW0),
        a * ((a + 1) + (a - 1) * cosW0 - twoSqrtAAlpha), (a + 1) - (a - 1) * cosW0 + twoSqrtAAlpha,
        2 * ((a - 1) - (a + 1) * cosW0), (a + 1) - (a - 1) * cosW0 - twoSqrtAAlpha);
}

BiquadCoefficients designPeaking(double frequencyHz, double gainDB, double bandwidthOctaves,
                                 double sampleRate) {
    const double a = std::pow(10.0, gainDB / 40);
    const double w0 = angularFrequency(frequencyHz, sampleRate);
    const double sinW0 = std::sin(w0);
    const double alpha = sinW0 * std::sinh(std::numbers::ln2 / 2 * bandwidthOctaves * w0 / sinW0);
    const double cosW0 = std::cos(w0);
    return normalised(1 + alpha * a, -2 * cosW0, 1 - alpha * a, 1 + alpha / a, -2 * cosW0,
                      1 - alpha / a);
}

double magnitudeDB(const BiquadCoefficients& c, double frequencyHz, double sampleRate) {
    const double w = 2 * std::numbers::pi * frequencyHz / sampleRate;
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> z2 = z1 * z1;
    const std::complex<double> numerator = c.b0 + c.b1 * z1 + c.b2 * z2;
    const std::complex<double> denominator = 1.0 + c.a1 * z1 + c.a2 * z2;
    return 20 * std::log10(std::abs(numerator) / std::abs(denominator));
}

} // namespace reelbox::dsp
