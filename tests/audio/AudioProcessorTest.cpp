#include "audio/AudioProcessor.h"
#include "audio/MixSteps.h"
#include "audio/StemError.h"
#include "audio/dsp/SampleOps.h"
#include "platform/media/AudioFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

using namespace reelbox;
using AudioProcessor::TrackInput;

namespace {

constexpr int rate = 48000;

// Sample i of a staircase stem holds i + 1, exact in float up to 2^24.
float step(qint64 i) {
    return float(i + 1);
}

class AudioProcessorTest : public ::testing::Test {
protected:
    QString stem(qint64 frames, const std::function<float(qint64)>& sample = step) {
        std::vector<float> samples(static_cast<size_t>(frames));
        for (qint64 i = 0; i < frames; ++i)
            samples[size_t(i)] = sample(i);
        const QString path = dir.filePath(QStringLiteral("stem-%1.caf").arg(++count));
        writeAudioFile(path, {samples}, rate);
        return path;
    }

    // A track fully on the left at unity gain, so the left output is the spliced track.
    static Track leftTrack() {
        Track t;
        t.id = QUuid::createUuid();
        t.pan = -1;
        return t;
    }

    QString out() const { return dir.filePath("mix.caf"); }
    static MasterSettings plain() { return {0, false}; }

    AudioData renderAndRead(const std::vector<TrackInput>& inputs, const SpanList& spans,
                            const MasterSettings& master = plain(),
                            AudioProcessor::Analysis* analysis = nullptr) {
        const auto result = AudioProcessor::render(inputs, master, spans, out());
        if (analysis)
            *analysis = result;
        return readAudioFile(out());
    }

    QTemporaryDir dir;
    int count = 0;
};

float fadedIn(float x, qint64 k) {
    const float r = float(k) / 384.0f;
    return x * (r * r);
}
float fadedOut(float x, qint64 k) {
    const float r = 1.0f - float(k) / 384.0f;
    return x * (r * r);
}

} // namespace

TEST(MixSteps, SpanLengthsRoundHalfAwayFromZero) {
    const double frame = 1.0 / rate;
    EXPECT_EQ(mix::spanLengths({{0, 1}, {2, 2 + 1.5 * frame}, {5, 5 + 0.4 * frame}, {3, 3}}),
              (std::vector<std::uint32_t>{48000, 2, 0, 0}));
}

TEST(MixSteps, RampsAreSquaredAndEndOneStepShortOfZero) {
    std::vector<float> ones(4, 1.0f);
    mix::fadeIn(ones.data(), 4);
    EXPECT_EQ(ones, (std::vector<float>{0.0f, 0.0625f, 0.25f, 0.5625f}));
    std::vector<float> down(4, 1.0f);
    mix::fadeOut(down.data(), 4);
    EXPECT_EQ(down, (std::vector<float>{1.0f, 0.5625f, 0.25f, 0.0625f}));
}

TEST_F(AudioProcessorTest, SplicePlacesEverySampleOfEverySpan) {
    const QString s = stem(5 * rate);
    const SpanList spans{{0.5, 1.0}, {2.0, 2.5}, {4.0, 4.25}};
    const auto lengths = mix::spanLengths(spans);
    const mix::Buffer b = mix::splice(s, 0, spans, lengths, 60000);
    ASSERT_EQ(b.size(), 60000u);
    // Span 0: stem 24000…47999, faded out at its end only.
    for (qint64 i = 0; i < 24000 - 384; ++i)
        ASSERT_EQ(b[size_t(i)], step(24000 + i)) << i;
    for (qint64 k = 0; k < 384; ++k)
        ASSERT_EQ(b[size_t(24000 - 384 + k)], fadedOut(step(48000 - 384 + k), k)) << k;
    // Span 1: stem 96000…, faded in at its start and out at its end.
    for (qint64 k = 0; k < 384; ++k)
        ASSERT_EQ(b[size_t(24000 + k)], fadedIn(step(96000 + k), k)) << k;
    for (qint64 i = 384; i < 24000 - 384; ++i)
        ASSERT_EQ(b[size_t(24000 + i)], step(96000 + i)) << i;
    // The last span has no fade-out at its end.
    for (qint64 i = 384; i < 12000; ++i)
        ASSERT_EQ(b[size_t(48000 + i)], step(192000 + i)) << i;
}

TEST_F(AudioProcessorTest, SpliceRespectsWhereTheStemStartsAndEnds) {
    const QString s = stem(3 * rate);
    // An overdub that starts at 2 s in a span 0…10 s: silent for 96,000 frames.
    const SpanList whole{{0, 10}};
    const mix::Buffer late = mix::splice(s, 2.0, whole, mix::spanLengths(whole), 10 * rate);
    for (qint64 i = 0; i < 96000; ++i)
        ASSERT_EQ(late[size_t(i)], 0.0f) << i;
    EXPECT_EQ(late[96000], step(0));
    EXPECT_EQ(late[96000 + 143999], step(143999));
    for (qint64 i = 96000 + 144000; i < 10 * rate; ++i) // past the stem's end
        ASSERT_EQ(late[size_t(i)], 0.0f) << i;

    // A span that begins after the overdub started reads from inside the stem.
    const SpanList later{{3, 4}};
    const mix::Buffer inside = mix::splice(s, 1.0, later, mix::spanLengths(later), rate);
    EXPECT_EQ(inside[0], step(96000));
    EXPECT_EQ(inside[47999], step(143999));
}

TEST_F(AudioProcessorTest, HiddenSpansAreSilentWithRampsAroundThem) {
    const QString s = stem(3 * rate, [](qint64) { return 0.5f; });
    const SpanList spans{{0, 1}, {1, 2}, {2, 3}};
    const auto lengths = mix::spanLengths(spans);
    mix::Buffer b = mix::splice(s, 0, spans, lengths, 3 * rate);
    mix::Buffer seams = b;
    mix::silenceHidden(b, {{1, 2}}, spans, lengths);
    for (qint64 i = rate; i < 2 * rate; ++i)
        ASSERT_EQ(b[size_t(i)], 0.0f) << i;
    for (qint64 k = 0; k < 384; ++k) {
        ASSERT_EQ(b[size_t(rate - 384 + k)], fadedOut(seams[size_t(rate - 384 + k)], k)) << k;
        ASSERT_EQ(b[size_t(2 * rate + k)], fadedIn(seams[size_t(2 * rate + k)], k)) << k;
    }
    EXPECT_EQ(b[size_t(rate / 2)], 0.5f);

    // A hidden part inside one span cuts at the exact frames.
    mix::Buffer one = mix::splice(s, 0, {{0, 3}}, {3 * rate}, 3 * rate);
    mix::silenceHidden(one, {{0.5, 0.75}}, {{0, 3}}, {3 * rate});
    EXPECT_NE(one[23999], 0.0f);
    EXPECT_EQ(one[24000], 0.0f);
    EXPECT_EQ(one[35999], 0.0f);
    EXPECT_EQ(one[36000], 0.0f); // first frame of the fade-in
    EXPECT_EQ(one[36001], fadedIn(0.5f, 1));
}

TEST_F(AudioProcessorTest, EffectsThatAreOffLeaveTheTrackBitForBit) {
    mix::Buffer signal(9000);
    for (size_t i = 0; i < signal.size(); ++i)
        signal[i] = 0.9f * std::sin(float(i) * 0.37f) + 0.05f * std::sin(float(i) * 0.011f);

    TrackEffects off;
    off.lowCut = true; // lives in the EQ, so it does nothing while the EQ is off
    off.reverbSend = 0.5;
    mix::Buffer untouched = signal;
    mix::processTrack(untouched, off, {});
    EXPECT_EQ(untouched, signal);

    // The compressor on alone equals the compressor on with an EQ that is off.
    TrackEffects compressor;
    compressor.compressorEnabled = true;
    compressor.compression = 0.8;
    TrackEffects compressorAndEqOff = compressor;
    compressorAndEqOff.lowCut = true;
    compressorAndEqOff.highGain = 9;
    mix::Buffer a = signal, b = signal;
    mix::processTrack(a, compressor, {});
    mix::processTrack(b, compressorAndEqOff, {});
    EXPECT_EQ(a, b);
    EXPECT_NE(a, signal);
    for (float x : a)
        ASSERT_LE(std::fabs(x), 1.0f); // the limiter holds the ceiling

    // The EQ on alone: no compressor, no limiter.
    TrackEffects eq;
    eq.eqEnabled = true;
    eq.lowCut = true;
    mix::Buffer c = signal;
    mix::processTrack(c, eq, {});
    EXPECT_NE(c, signal);
    TrackEffects flatEq;
    flatEq.eqEnabled = true; // all bands at 0 dB and no low cut: identity
    mix::Buffer d = signal;
    mix::processTrack(d, flatEq, {});
    EXPECT_EQ(d, signal);
}

TEST_F(AudioProcessorTest, SoloAndMute) {
    const QString loud = stem(rate, [](qint64) { return 0.5f; });
    TrackInput a{loud, 0, leftTrack(), {}};
    TrackInput b{loud, 0, leftTrack(), {}};
    b.track.pan = 1; // right
    const SpanList spans{{0, 1}};

    b.track.solo = true;
    AudioData mixed = renderAndRead({a, b}, spans);
    EXPECT_NEAR(mixed.channels[0][1000], 0.0f, 1e-12); // cos(π/2) in double is not quite 0
    EXPECT_NEAR(mixed.channels[1][1000], 0.5f, 1e-7);

    // Muted and soloed: silent, and as the only soloed track it silences everything.
    b.track.muted = true;
    mixed = renderAndRead({a, b}, spans);
    EXPECT_EQ(mixed.channels[0][1000], 0.0f);
    EXPECT_EQ(mixed.channels[1][1000], 0.0f);
    EXPECT_EQ(mixed.channels[0].size(), size_t(rate));
}

TEST_F(AudioProcessorTest, ConstantPowerPanAndVolume) {
    const QString s = stem(rate, [](qint64) { return 0.25f; });
    Track centre = leftTrack();
    centre.pan = 0;
    centre.volumeDB = 6;
    const AudioData mixed = renderAndRead({{s, 0, centre, {}}}, {{0, 1}});
    const double gain = std::pow(10.0, 6.0 / 20);
    EXPECT_FLOAT_EQ(mixed.channels[0][20000], 0.25f * float(gain * std::cos(M_PI / 4)));
    EXPECT_FLOAT_EQ(mixed.channels[1][20000], 0.25f * float(gain * std::sin(M_PI / 4)));
    EXPECT_NEAR(mixed.channels[0][20000] / (0.25 * gain), 0.7071, 1e-4);

    const auto full = mix::panGains(0, -1);
    EXPECT_EQ(full.left, 1.0f);
    EXPECT_NEAR(full.right, 0.0f, 1e-16);
}

TEST_F(AudioProcessorTest, ReverbSendsAfterVolumeAndPanIntoSharedRooms) {
    const QString burst = stem(rate / 2, [](qint64 i) { return i < 480 ? 0.5f : 0.0f; });
    Track dry = leftTrack();
    Track wet = dry;
    wet.effects.reverbSend = 0.5;
    wet.effects.reverbRoom = ReverbRoom::hall;
    const SpanList spans{{0, 0.5}};

    const AudioData plainMix = renderAndRead({{burst, 0, dry, {}}}, spans);
    const AudioData withSend = renderAndRead({{burst, 0, wet, {}}}, spans);
    // Panned fully left, the send feeds the hall from the left only; the tail lands in both.
    double tail = 0, rightTail = 0;
    for (size_t i = 4800; i < size_t(rate / 2 - 400); ++i) {
        EXPECT_EQ(plainMix.channels[0][i], 0.0f);
        tail += std::fabs(withSend.channels[0][i]);
        rightTail += std::fabs(withSend.channels[1][i]);
    }
    EXPECT_GT(tail, 1.0);
    EXPECT_GT(rightTail, 1.0);

    // Turning the volume down turns the send down with it.
    Track silent = wet;
    silent.volumeDB = -200;
    const AudioData quiet = renderAndRead({{burst, 0, silent, {}}}, spans);
    for (size_t i = 0; i < quiet.channels[0].size(); ++i)
        ASSERT_LT(std::fabs(quiet.channels[0][i]), 1e-9f) << i;

    // Two tracks on one room share one reverb: one step per track and one per room.
    Track other = wet;
    other.effects.reverbSend = 0.25;
    Track third = wet;
    third.effects.reverbRoom = ReverbRoom::plate;
    std::vector<double> steps;
    AudioProcessor::render({{burst, 0, wet, {}}, {burst, 0, other, {}}, {burst, 0, third, {}}},
                           plain(), spans, out(), {}, [&](double f) { steps.push_back(f); });
    EXPECT_EQ(steps.size(), 5u);
    EXPECT_EQ(steps.back(), 1.0);

    // A send of 0 makes no room.
    Track noSend = wet;
    noSend.effects.reverbSend = 0;
    steps.clear();
    AudioProcessor::render({{burst, 0, noSend, {}}}, plain(), spans, out(), {},
                           [&](double f) { steps.push_back(f); });
    EXPECT_EQ(steps.size(), 1u);
}

TEST_F(AudioProcessorTest, NormalizeTargetCeilingAndSilence) {
    const SpanList spans{{0, 1}};
    AudioProcessor::Analysis analysis;

    const float quiet = float(std::pow(10.0, -30.0 / 20));
    const QString q = stem(rate, [=](qint64 i) { return i % 2 ? quiet : -quiet; });
    AudioData mixed = renderAndRead({{q, 0, leftTrack(), {}}}, spans, {0, true}, &analysis);
    EXPECT_NEAR(analysis.peakDB, -30, 1e-4);
    EXPECT_EQ(analysis.normalizeGainDB, 18.0);
    EXPECT_NEAR(std::fabs(mixed.channels[0][24000]), std::pow(10.0, -12.0 / 20), 1e-6);

    const QString full = stem(rate, [](qint64 i) { return i % 2 ? 1.0f : -1.0f; });
    mixed = renderAndRead({{full, 0, leftTrack(), {}}}, spans, {-3, true}, &analysis);
    EXPECT_NEAR(analysis.peakDB, 0, 1e-6);
    EXPECT_NEAR(analysis.normalizeGainDB, -1, 1e-6);
    // The master volume comes after the measurement.
    EXPECT_NEAR(std::fabs(mixed.channels[0][24000]), std::pow(10.0, -4.0 / 20), 1e-6);

    const QString zero = stem(rate, [](qint64) { return 0.0f; });
    mixed = renderAndRead({{zero, 0, leftTrack(), {}}}, spans, {0, true}, &analysis);
    EXPECT_EQ(analysis.normalizeGainDB, 0);
    EXPECT_NEAR(analysis.peakDB, -180, 1e-9);

    // Off: no gain, and a hot mix is clipped to full scale.
    Track hot = leftTrack();
    hot.volumeDB = 12;
    mixed = renderAndRead({{full, 0, hot, {}}}, spans, {0, false}, &analysis);
    EXPECT_EQ(analysis.normalizeGainDB, 0);
    EXPECT_NEAR(analysis.peakDB, 12, 1e-5);
    EXPECT_EQ(std::fabs(mixed.channels[0][24000]), 1.0f);
}

TEST_F(AudioProcessorTest, EdgesOfTheMixAreFaded) {
    const QString s = stem(rate, [](qint64) { return 0.5f; });
    AudioData mixed = renderAndRead({{s, 0, leftTrack(), {}}}, {{0, 1}});
    for (qint64 k = 0; k < 384; ++k) {
        ASSERT_EQ(mixed.channels[0][size_t(k)], fadedIn(0.5f, k)) << k;
        ASSERT_EQ(mixed.channels[0][size_t(rate - 384 + k)], fadedOut(0.5f, k)) << k;
    }

    // 100 frames: no fade-in, a fade-out over all of them.
    mixed = renderAndRead({{s, 0, leftTrack(), {}}}, {{0, 100.0 / rate}});
    ASSERT_EQ(mixed.channels[0].size(), 100u);
    for (qint64 k = 0; k < 100; ++k) {
        const float r = 1.0f - float(k) / 100.0f;
        ASSERT_EQ(mixed.channels[0][size_t(k)], 0.5f * (r * r)) << k;
    }
}

TEST_F(AudioProcessorTest, NothingToPlayOrCancelledWritesNothing) {
    const QString s = stem(rate);
    try {
        AudioProcessor::render({{s, 0, leftTrack(), {}}}, plain(), {}, out());
        ADD_FAILURE() << "an empty span list must fail";
    } catch (const StemError& e) {
        EXPECT_EQ(e.kind(), StemError::Kind::noAudio);
        EXPECT_EQ(e.message(), QStringLiteral("This recording has no audio."));
    }
    EXPECT_THROW(AudioProcessor::render({{s, 0, leftTrack(), {}}}, plain(), {{1, 1.000001}}, out()),
                 StemError);
    EXPECT_FALSE(QFile::exists(out()));

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(AudioProcessor::render({{s, 0, leftTrack(), {}}}, plain(), {{0, 1}}, out(),
                                        stop.get_token()),
                 Cancelled);
    EXPECT_FALSE(QFile::exists(out()));

    EXPECT_THROW(AudioProcessor::render({{dir.filePath("missing.caf"), 0, leftTrack(), {}}},
                                        plain(), {{0, 1}}, out()),
                 Error);
}

TEST_F(AudioProcessorTest, TheMixHasThePlayedLengthAndTheReverbTailIsCut) {
    const QString s = stem(2 * rate, [](qint64 i) { return i > 2 * rate - 4800 ? 0.8f : 0.0f; });
    Track t = leftTrack();
    t.effects.reverbSend = 1;
    t.effects.reverbRoom = ReverbRoom::cathedral;
    const AudioData mixed = renderAndRead({{s, 0, t, {}}}, {{0, 2}});
    EXPECT_EQ(mixed.sampleRate, rate);
    ASSERT_EQ(mixed.channels.size(), 2u);
    EXPECT_EQ(mixed.channels[0].size(), size_t(2 * rate));
    EXPECT_EQ(mixed.channels[1].size(), size_t(2 * rate));
}

TEST(SampleOps, PeakFindsTheLargestMagnitudeAnywhere) {
    std::vector<float> x(1037, 0.25f);
    EXPECT_EQ(dsp::peakMagnitude(x.data(), 0), 0.0f);
    for (size_t at : {size_t(0), size_t(5), size_t(8), size_t(517), size_t(1031), size_t(1036)}) {
        auto y = x;
        y[at] = -0.75f;
        EXPECT_EQ(dsp::peakMagnitude(y.data(), y.size()), 0.75f) << at;
        EXPECT_EQ(dsp::peakMagnitude(y.data() + 1, y.size() - 1), at >= 1 ? 0.75f : 0.25f) << at;
    }
    // Passed over, as std::max passes over it.
    x[9] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(dsp::peakMagnitude(x.data(), x.size()), 0.25f);
}

TEST_F(AudioProcessorTest, SplicingIntoAReusedBufferWritesEveryFrame) {
    const QString s = stem(2 * rate);
    // Short spans (overlapping ramps), a span before the stem begins and one past its end,
    // an empty span, and a total longer than the spans.
    const SpanList spans{{0.5, 0.5 + 100.0 / rate},  {0.2, 0.6}, {1.0, 1.0}, {1.9, 2.3}, {3.0, 3.1},
                         {1.25, 1.25 + 300.0 / rate}};
    const auto lengths = mix::spanLengths(spans);
    qint64 sum = 0;
    for (auto length : lengths)
        sum += length;
    for (double start : {0.0, 0.4}) {
        for (qint64 total : {sum, sum + 5000}) {
            const mix::Buffer fresh = mix::splice(s, start, spans, lengths, total);
            mix::Buffer reused(size_t(total + 777), std::numeric_limits<float>::quiet_NaN());
            mix::splice(reused, s, start, spans, lengths, total);
            ASSERT_EQ(reused.size(), size_t(total));
            for (qint64 i = 0; i < total; ++i)
                ASSERT_EQ(std::bit_cast<std::uint32_t>(reused[size_t(i)]),
                          std::bit_cast<std::uint32_t>(fresh[size_t(i)]))
                    << "start " << start << " total " << total << " frame " << i;
            for (qint64 i = sum; i < total; ++i)
                ASSERT_EQ(fresh[size_t(i)], 0.0f) << i;
        }
    }
    // The span before the stem begins: 0.4 s × 48,000 frames of it are silent.
    const mix::Buffer late = mix::splice(s, 0.4, spans, lengths, sum);
    const qint64 second = lengths[0];
    EXPECT_EQ(late[size_t(second + 384)], 0.0f);
    EXPECT_EQ(late[size_t(second + 9599)], 0.0f);
    EXPECT_EQ(late[size_t(second + 9600)], step(0));
}

TEST_F(AudioProcessorTest, MasterGainFadesAndClipOnEveryFrameInOrder) {
    // A louder-than-full-scale signal, turned up by the master volume: every frame must be
    // scaled, then faded at the edges, then clipped, across the chunks of the file writer.
    const auto wave = [](qint64 i) { return 0.9f * std::sin(float(i) * 0.013f); };
    for (qint64 frames : {qint64(100), qint64(500), qint64(800), qint64(40000)}) {
        const QString s = stem(frames, wave);
        const double volumeDB = 7.5;
        const AudioData mixed = renderAndRead({{s, 0, leftTrack(), {}}},
                                              {{0, double(frames) / rate}}, {volumeDB, false});
        ASSERT_EQ(mixed.channels[0].size(), size_t(frames));
        const float factor = float(std::pow(10.0, volumeDB / 20));
        std::vector<float> expected(static_cast<size_t>(frames));
        for (qint64 i = 0; i < frames; ++i)
            expected[size_t(i)] = wave(i) * factor; // pan −1: the left gain is exactly 1
        if (frames >= 384)
            mix::fadeIn(expected.data(), 384);
        const qint64 n = std::min<qint64>(frames, 384);
        mix::fadeOut(expected.data() + frames - n, n);
        int clipped = 0;
        for (qint64 i = 0; i < frames; ++i) {
            clipped += std::fabs(expected[size_t(i)]) > 1.0f;
            ASSERT_EQ(mixed.channels[0][size_t(i)], std::clamp(expected[size_t(i)], -1.0f, 1.0f))
                << frames << " frames, frame " << i;
        }
        if (frames == 40000) {
            EXPECT_GT(clipped, 1000);
        }
    }
}

TEST_F(AudioProcessorTest, TheMixIsPlainFloatArithmeticDownToTheSmallestValues) {
    // Subnormal samples pass through a track without effects, at unity gain, untouched.
    const float tiny = 3e-40f;
    ASSERT_EQ(std::fpclassify(tiny), FP_SUBNORMAL);
    const QString s = stem(rate, [=](qint64 i) { return i % 2 ? tiny : -tiny; });
    AudioProcessor::Analysis analysis;
    const AudioData mixed = renderAndRead({{s, 0, leftTrack(), {}}}, {{0, 1}}, plain(), &analysis);
    EXPECT_EQ(mixed.channels[0][1000], -tiny);
    EXPECT_EQ(mixed.channels[0][1001], tiny);
    EXPECT_NEAR(analysis.peakDB, -180, 1e-9); // floored at 1e-9 all the same
}
