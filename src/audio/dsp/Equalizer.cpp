#include "audio/dsp/Equalizer.h"

#include "audio/dsp/FlushDenormals.h"

#include <algorithm>
#include <cmath>

namespace reelbox::dsp {

namespace {

// One section while it runs: coefficients and state as plain values, so that the compiler
// keeps them in registers. Everything that does not depend on the last output is added up
// first, which leaves one multiply and one add on the path from one output to the next.
struct Section {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0, x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    static Section from(const BiquadCoefficients& c, const BiquadState& s) {
        return {c.b0, c.b1, c.b2, c.a1, c.a2, s.x1, s.x2, s.y1, s.y2};
    }
    BiquadState state() const { return {x1, x2, y1, y2}; }

    double tick(double x) {
        const double partial = b1 * x1 + b2 * x2 - a2 * y2 + b0 * x;
        const double y = partial - a1 * y1;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// Two sections side by side in the two lanes of a vector, with the same arithmetic as
// Section::tick in each lane (so the results are the same to the bit).
using Double2 = double __attribute__((vector_size(16)));

struct SectionPair {
    Double2 b0, b1, b2, a1, a2, x1, x2, y1, y2;

    SectionPair(const Section& p, const Section& q)
        : b0{p.b0, q.b0}, b1{p.b1, q.b1}, b2{p.b2, q.b2}, a1{p.a1, q.a1}, a2{p.a2, q.a2},
          x1{p.x1, q.x1}, x2{p.x2, q.x2}, y1{p.y1, q.y1}, y2{p.y2, q.y2} {}

    void unpack(Section& p, Section& q) const {
        p.x1 = x1[0], p.x2 = x2[0], p.y1 = y1[0], p.y2 = y2[0];
        q.x1 = x1[1], q.x2 = x2[1], q.y1 = y1[1], q.y2 = y2[1];
    }

    Double2 tick(Double2 x) {
        const Double2 partial = b1 * x1 + b2 * x2 - a2 * y2 + b0 * x;
        const Double2 y = partial - a1 * y1;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// The sections run skewed: in step i section k works on sample i - k, so that within a step
// no section waits for another, and pairs of them share one vector. A section's output
// reaches the next section one step later. The first and last few samples, where the
// pipeline fills and drains, go through the sections one at a time.

void runOne(Section& s0, float* samples, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<float>(s0.tick(samples[i]));
}

void runTwo(Section& s0, Section& s1, float* samples, std::size_t count) {
    if (count < 2) {
        for (std::size_t i = 0; i < count; ++i)
            samples[i] = static_cast<float>(s1.tick(s0.tick(samples[i])));
        return;
    }
    double y0 = s0.tick(samples[0]); // section 0 at sample i - 1
    SectionPair pair(s0, s1);
    for (std::size_t i = 1; i < count; ++i) {
        const Double2 y = pair.tick(Double2{samples[i], y0});
        samples[i - 1] = static_cast<float>(y[1]);
        y0 = y[0];
    }
    pair.unpack(s0, s1);
    samples[count - 1] = static_cast<float>(s1.tick(y0));
}

void runFour(Section& s0, Section& s1, Section& s2, Section& s3, float* samples,
             std::size_t count) {
    if (count < 4) {
        for (std::size_t i = 0; i < count; ++i)
            samples[i] = static_cast<float>(s3.tick(s2.tick(s1.tick(s0.tick(samples[i])))));
        return;
    }
    // Fill: section 0 takes samples 0 ... 2, section 1 samples 0 ... 1, section 2 sample 0.
    const double a0 = s0.tick(samples[0]);
    const double a1 = s0.tick(samples[1]);
    double y0 = s0.tick(samples[2]);
    const double b0 = s1.tick(a0);
    double y1 = s1.tick(a1);
    double y2 = s2.tick(b0);
    SectionPair low(s0, s1), high(s2, s3);
    for (std::size_t i = 3; i < count; ++i) {
        const Double2 yl = low.tick(Double2{samples[i], y0});
        const Double2 yh = high.tick(Double2{y1, y2});
        samples[i - 3] = static_cast<float>(yh[1]);
        y0 = yl[0];
        y1 = yl[1];
        y2 = yh[0];
    }
    low.unpack(s0, s1);
    high.unpack(s2, s3);
    // Drain.
    const double c1 = s1.tick(y0);
    const double c2 = s2.tick(y1);
    const double d2 = s2.tick(c1);
    samples[count - 3] = static_cast<float>(s3.tick(y2));
    samples[count - 2] = static_cast<float>(s3.tick(c2));
    samples[count - 1] = static_cast<float>(s3.tick(d2));
}

} // namespace

Equalizer::Equalizer(double sampleRate, const EqualizerSettings& settings)
    : m_sampleRate(sampleRate) {
    setSettings(settings);
}

void Equalizer::setSettings(const EqualizerSettings& settings) {
    m_settings = settings;
    const double fs = m_sampleRate;
    m_bands[0].coefficients = designHighPass(lowCutHz, lowCutQ, fs);
    m_bands[0].active = settings.lowCut;
    m_bands[1].coefficients = designLowShelf(lowShelfHz, settings.lowGainDB, shelfSlope, fs);
    m_bands[1].active = settings.lowGainDB != 0;
    const double midHz = std::isnan(settings.midFrequencyHz)
                             ? EqualizerSettings{}.midFrequencyHz
                             : std::min(settings.midFrequencyHz, midHighestFraction * fs);
    m_bands[2].coefficients = designPeaking(midHz, settings.midGainDB, midBandwidthOctaves, fs);
    m_bands[2].active = settings.midGainDB != 0;
    m_bands[3].coefficients = designHighShelf(highShelfHz, settings.highGainDB, shelfSlope, fs);
    m_bands[3].active = settings.highGainDB != 0;

    m_activeCount = 0;
    for (Band& band : m_bands) {
        if (band.active)
            ++m_activeCount;
        else
            band.state = {};
    }
}

void Equalizer::reset() {
    for (Band& band : m_bands)
        band.state = {};
}

void Equalizer::process(float* samples, std::size_t count) {
    if (m_activeCount == 0 || count == 0)
        return;
    ScopedFlushDenormals flush;
    // The active bands in order; three are run as four with an identity section (b0 = 1,
    // the rest 0), which passes its input through exactly.
    Section sections[4];
    Band* active[4] = {};
    int n = 0;
    for (Band& band : m_bands) {
        if (band.active) {
            sections[n] = Section::from(band.coefficients, band.state);
            active[n++] = &band;
        }
    }
    switch (n) {
    case 1:
        runOne(sections[0], samples, count);
        break;
    case 2:
        runTwo(sections[0], sections[1], samples, count);
        break;
    default:
        runFour(sections[0], sections[1], sections[2], sections[3], samples, count);
        break;
    }
    for (int k = 0; k < n; ++k)
        active[k]->state = sections[k].state();
}

double Equalizer::magnitudeDB(double frequencyHz) const {
    double db = 0;
    for (const Band& band : m_bands) {
        if (band.active)
            db += dsp::magnitudeDB(band.coefficients, frequencyHz, m_sampleRate);
    }
    return db;
}

double equalizerMagnitudeDB(const EqualizerSettings& settings, double sampleRate,
                            double frequencyHz) {
    return Equalizer(sampleRate, settings).magnitudeDB(frequencyHz);
}

} // namespace reelbox::dsp
