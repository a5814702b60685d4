#pragma once

#include <cstddef>

namespace reelbox::dsp {

// One second-order section, normalised so that a0 = 1:
//   H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2)
struct BiquadCoefficients {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;

    bool operator==(const BiquadCoefficients&) const = default;
};

// Designs from Robert Bristow-Johnson's Audio EQ Cookbook. Frequencies in Hz, gains in dB.
// The frequency is kept inside 1 Hz ... 0.49 x the sample rate so every design stays stable.
BiquadCoefficients designHighPass(double frequencyHz, double q, double sampleRate);
BiquadCoefficients designLowPass(double frequencyHz, double q, double sampleRate);
// Shelves use the cookbook's shelf slope S (1 = the steepest slope without overshoot);
// the gain at frequencyHz is half the shelf gain in dB.
BiquadCoefficients designLowShelf(double frequencyHz, double gainDB, double slope,
                                  double sampleRate);
BiquadCoefficients designHighShelf(double frequencyHz, double gainDB, double slope,
                                   double sampleRate);
// Peaking EQ with the bandwidth in octaves (the cookbook's BW form, digitally compensated).
BiquadCoefficients designPeaking(double frequencyHz, double gainDB, double bandwidthOctaves,
                                 double sampleRate);

// |H(e^jw)| in dB at a frequency, from the coefficients.
double magnitudeDB(const BiquadCoefficients& c, double frequencyHz, double sampleRate);

// State of one section in direct form I (the last two inputs and outputs), in double
// precision: the low bands put poles close to z = 1, where single precision would add
// audible noise. Direct form I keeps only signal values, so new coefficients can take over
// the state without a jump, and its recursion is one multiply and one add per sample.
struct BiquadState {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
};

} // namespace reelbox::dsp
