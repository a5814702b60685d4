#include "audio/dsp/Compressor.h"
#include "SignalTools.h"

#include <gtest/gtest.h>

using namespace reelbox::dsp;
using namespace reelbox::dsp::test;

namespace {

// The static curve as the compressor is defined: threshold, head room and makeup from c.
double expectedOutputDB(double c, double levelDB) {
    const double threshold = -35 * c;
    const double headRoom = 6 - 4 * c;
    const double makeup = 15.75 * c;
    const double level = levelDB > threshold
                             ? threshold + headRoom * std::tanh((levelDB - threshold) / headRoom)
                             : levelDB;
    return level + makeup;
}

} // namespace

TEST(Compressor, SteadyTonesSettleOnTheStaticCurve) {
    // With no compression the curve still bends above full scale: +6 dBFS gives 6 tanh(1).
    for (double c : {0.0, 0.25, 0.5, 1.0}) {
        for (double frequencyHz : {60.0, 1000.0, 5000.0}) {
            for (double levelDB : {-50.0, -30.0, -20.0, -10.0, -3.0, 0.0, 6.0}) {
                std::vector<float> x = sine(framesOf(0.6), frequencyHz, std::pow(10, levelDB / 20));
                const std::size_t tail = framesOf(0.1);
                const double inDB = toDB(peak(x.data() + x.size() - tail, tail));
                Compressor compressor(c, sampleRate);
                compressor.process(x.data(), x.size());
                const double outDB = toDB(peak(x.data() + x.size() - tail, tail));
                EXPECT_NEAR(outDB, expectedOutputDB(c, inDB), 0.05)
                    << "c " << c << ", " << frequencyHz << " Hz, " << levelDB << " dBFS";
            }
        }
    }
}

TEST(Compressor, ReductionBuildsAndRecoversWithItsTimeConstants) {
    const double c = 0.5;
    const std::size_t loudAt = framesOf(0.3), quietAt = framesOf(0.8);
    // Constant magnitude, so output / input is the gain at every frame.
    std::vector<float> input(framesOf(4.8), 0.001f);
    std::fill(input.begin() + std::ptrdiff_t(loudAt), input.begin() + std::ptrdiff_t(quietAt),
              1.0f);
    std::vector<float> x = input;
    Compressor(c, sampleRate).process(x.data(), x.size());
    std::vector<double> r(input.size()); // the gain reduction in dB at every frame
    for (std::size_t i = 0; i < input.size(); ++i)
        r[i] = 15.75 * c - toDB(double(x[i]) / input[i]);
    const auto seconds = [&](std::size_t from, auto reached) {
        std::size_t at = from;
        while (!reached(r[at]))
            ++at;
        return double(at - from) / sampleRate;
    };

    // Attack: 1 - 1/e of the final reduction after one time constant (8 ms), 95 % after three.
    const double final = 15.75 * c - expectedOutputDB(c, 0.0); // reduction at 0 dBFS
    EXPECT_NEAR(r[loudAt - 1], 0.0, 1e-5);
    EXPECT_NEAR(r[quietAt - 1], final, 1e-3);
    EXPECT_NEAR(seconds(loudAt, [&](double v) { return v >= (1 - std::exp(-1.0)) * final; }), 0.008,
                0.0002);
    EXPECT_NEAR(r[loudAt + framesOf(0.024)], (1 - std::exp(-3.0)) * final, 0.05);

    // Release: the peak hold keeps the reduction for 10 ms, then it falls to 1/e in 200 ms.
    const double held = r[quietAt - 1];
    EXPECT_GT(held, 10.0);
    EXPECT_NEAR(r[quietAt + framesOf(0.009)], held, 1e-6);
    EXPECT_NEAR(seconds(quietAt, [&](double v) { return v <= std::exp(-1.0) * held; }),
                0.010 + 0.200, 0.002);
    EXPECT_NEAR(r.back(), 0.0, 1e-5); // fully recovered: the makeup gain alone
}
