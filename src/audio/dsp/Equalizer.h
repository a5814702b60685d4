#pragma once

#include "audio/dsp/Biquad.h"

#include <array>
#include <cstddef>

namespace reelbox::dsp {

// The track EQ: low cut, low shelf, one peaking mid band and a high shelf.
struct EqualizerSettings {
    bool lowCut = false;
    double lowGainDB = 0;
    double midGainDB = 0;
    double midFrequencyHz = 800;
    double highGainDB = 0;

    bool operator==(const EqualizerSettings&) const = default;
};

// Four cookbook biquads in series, double-precision coefficients and state:
//   band 0  high-pass 80 Hz, Q 0.7071 (Butterworth), only when lowCut is set
//   band 1  low shelf 120 Hz, slope 1, lowGainDB
//   band 2  peaking at midFrequencyHz, 1.2 octaves, midGainDB; the centre goes no higher
//           than a third of the sample rate (above it the compensated bandwidth spreads the
//           band over the whole spectrum, a broadband boost by 22 kHz at 48 kHz)
//   band 3  high shelf 6 kHz, slope 1, highGainDB
// A shelf or peak at 0 dB has b == a, that is H(z) = 1, so such a band is left out of the
// chain instead of being run; with no band left, process() does not touch the samples.
class Equalizer {
public:
    static constexpr double lowCutHz = 80;
    static constexpr double lowCutQ = 0.70710678118654752;
    static constexpr double lowShelfHz = 120;
    static constexpr double shelfSlope = 1;
    static constexpr double midBandwidthOctaves = 1.2;
    static constexpr double midHighestFraction = 1.0 / 3; // of the sample rate
    static constexpr double highShelfHz = 6000;

    explicit Equalizer(double sampleRate, const EqualizerSettings& settings = {});

    // New settings; the filter state is kept for the bands that stay in the chain.
    void setSettings(const EqualizerSettings& settings);
    const EqualizerSettings& settings() const { return m_settings; }
    double sampleRate() const { return m_sampleRate; }

    // Clears the filter state (silence before the next sample).
    void reset();

    // True when every band is left out: process() is then the identity, bit for bit.
    bool isIdentity() const { return m_activeCount == 0; }

    // Filters a mono buffer in place. Consecutive calls continue one stream.
    void process(float* samples, std::size_t count);

    // The design response |H(e^jw)| of the whole chain in dB at a frequency.
    double magnitudeDB(double frequencyHz) const;

private:
    struct Band {
        BiquadCoefficients coefficients;
        BiquadState state;
        bool active = false;
    };

    double m_sampleRate;
    EqualizerSettings m_settings;
    std::array<Band, 4> m_bands;
    int m_activeCount = 0;
};

// The design response in dB of an EQ with these settings (for curve views).
double equalizerMagnitudeDB(const EqualizerSettings& settings, double sampleRate,
                            double frequencyHz);

} // namespace reelbox::dsp
