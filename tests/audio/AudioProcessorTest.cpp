#include "audio/AudioProcessor.h"
#include "audio/MixSteps.h"
#include "audio/StemError.h"
#include "audio/dsp/SampleOps.h"
#include "platform/media/AudioFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <limits>

using namespace reelbox;
using AudioProcessor::TrackInput;

namespace {

constexpr int rate = audioSampleRate;
constexpr float NaN = std::numeric_limits<float>::quiet_NaN();
constexpr float inf = std::numeric_limits<float>::infinity();

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

    // By default fully on the left at unity gain, so the left output is the spliced track.
    static Track leftTrack(double volumeDB = 0, const TrackEffects& effects = {}, double pan = -1) {
        Track t;
        t.id = QUuid::createUuid();
        t.volumeDB = volumeDB;
        t.effects = effects;
        t.pan = pan;
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

float peakOf(const AudioData& audio) {
    float peak = 0;
    for (const auto& channel : audio.channels)
        peak = std::max(peak, dsp::peakMagnitude(channel.data(), channel.size()));
    return peak;
}

// Frames [from, from + n) of `b` hold want(k), k = 0 … n − 1.
template <class Samples, class Want>
::testing::AssertionResult holds(const Samples& b, qint64 from, qint64 n, Want want) {
    for (qint64 k = 0; k < n; ++k)
        if (b[size_t(from + k)] != want(k))
            return ::testing::AssertionFailure()
                   << "frame " << from + k << " is " << b[size_t(from + k)] << ", not " << want(k);
    return ::testing::AssertionSuccess();
}
const auto silence = [](qint64) { return 0.0f; };

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

// Every span's samples land in order, ramped at the seams, silent where the stem has none.
TEST_F(AudioProcessorTest, SplicePlacesEverySampleOfEverySpan) {
    const QString s = stem(5 * rate);
    const SpanList spans{{0.5, 1.0}, {2.0, 2.5}, {4.0, 4.25}};
    const auto lengths = mix::spanLengths(spans);
    const mix::Buffer b = mix::splice(s, 0, spans, lengths, 60000);
    ASSERT_EQ(b.size(), 60000u);
    // Span 0: stem 24000…47999, faded out at its end only.
    EXPECT_TRUE(holds(b, 0, 24000 - 384, [](qint64 k) { return step(24000 + k); }));
    EXPECT_TRUE(holds(b, 24000 - 384, 384, [](qint64 k) { return fadedOut(step(47616 + k), k); }));
    // Span 1: stem 96000…, faded in at its start and out at its end.
    EXPECT_TRUE(holds(b, 24000, 384, [](qint64 k) { return fadedIn(step(96000 + k), k); }));
    EXPECT_TRUE(holds(b, 24384, 24000 - 768, [](qint64 k) { return step(96384 + k); }));
    // The last span has no fade-out at its end.
    EXPECT_TRUE(holds(b, 48384, 12000 - 384, [](qint64 k) { return step(192384 + k); }));

    // An overdub that starts at 2 s in a span 0…10 s: silent for 96,000 frames.
    const SpanList whole{{0, 10}};
    const mix::Buffer late = mix::splice(s, 2.0, whole, mix::spanLengths(whole), 10 * rate);
    EXPECT_TRUE(holds(late, 0, 96000, silence));
    EXPECT_TRUE(holds(late, 96000, 5 * rate, step));
    EXPECT_TRUE(holds(late, 336000, 5 * rate - 96000, silence)); // past the stem's end

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
    EXPECT_TRUE(holds(b, rate, rate, silence));
    EXPECT_TRUE(
        holds(b, rate - 384, 384, [&](qint64 k) { return fadedOut(seams[rate - 384 + k], k); }));
    EXPECT_TRUE(holds(b, 2 * rate, 384, [&](qint64 k) { return fadedIn(seams[2 * rate + k], k); }));
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
    const auto processed = [&](const TrackEffects& effects) {
        mix::Buffer b = signal;
        mix::processTrack(b, effects, {});
        return b;
    };
    // The low cut lives in the EQ, so it does nothing while the EQ is off (a flat EQ is exact:
    // the effects' tests).
    EXPECT_EQ(processed({.lowCut = true, .highGain = 9, .reverbSend = 0.5}), signal);
    EXPECT_NE(processed({.eqEnabled = true, .lowCut = true}), signal);

    // The compressor on with an EQ that is off equals the compressor alone, under the ceiling.
    const mix::Buffer compressed = processed({.compressorEnabled = true, .compression = 0.8});
    EXPECT_EQ(
        processed({.lowCut = true, .highGain = 9, .compressorEnabled = true, .compression = 0.8}),
        compressed);
    EXPECT_NE(compressed, signal);
    EXPECT_LE(dsp::peakMagnitude(compressed.data(), compressed.size()), 1.0f);
}

TEST_F(AudioProcessorTest, SoloMuteAndConstantPowerPan) {
    const QString s = stem(rate, [](qint64) { return 0.25f; });
    TrackInput left{s, 0, leftTrack(), {}}, right{s, 0, leftTrack(0, {}, 1), {}};
    right.track.solo = true;
    AudioData mixed = renderAndRead({left, right}, {{0, 1}});
    EXPECT_NEAR(mixed.channels[0][1000], 0.0f, 1e-12); // cos(π/2) in double is not quite 0
    EXPECT_NEAR(mixed.channels[1][1000], 0.25f, 1e-7);

    // Muted and soloed: silent, and as the only soloed track it silences everything.
    right.track.muted = true;
    mixed = renderAndRead({left, right}, {{0, 1}});
    EXPECT_EQ(peakOf(mixed), 0.0f);
    EXPECT_EQ(mixed.channels[0].size(), size_t(rate));

    // Centred, each side gets the gain × 0.7071.
    mixed = renderAndRead({{s, 0, leftTrack(6, {}, 0), {}}}, {{0, 1}});
    EXPECT_NEAR(mixed.channels[0][20000] / (0.25 * std::pow(10.0, 6.0 / 20)), 0.7071, 1e-4);
    EXPECT_EQ(mixed.channels[0][20000], mixed.channels[1][20000]);
}

TEST_F(AudioProcessorTest, ReverbSendsAfterVolumeAndPanIntoSharedRooms) {
    const QString burst = stem(rate / 2, [](qint64 i) { return i < 480 ? 0.5f : 0.0f; });
    const Track wet = leftTrack(0, {.reverbSend = 0.5, .reverbRoom = ReverbRoom::hall});
    const SpanList spans{{0, 0.5}};

    const AudioData plainMix = renderAndRead({{burst, 0, leftTrack(), {}}}, spans);
    const AudioData withSend = renderAndRead({{burst, 0, wet, {}}}, spans);
    // The hall rings far longer than the mix; its tail is cut.
    ASSERT_EQ(withSend.channels[0].size(), size_t(rate / 2));
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
    const AudioData quiet = renderAndRead({{burst, 0, leftTrack(-200, wet.effects), {}}}, spans);
    for (size_t i = 0; i < quiet.channels[0].size(); ++i)
        ASSERT_LT(std::fabs(quiet.channels[0][i]), 1e-9f) << i;

    // Two tracks on one room share one reverb: one step per track and one per room.
    // A send of 0 makes no room.
    const Track other = leftTrack(0, {.reverbSend = 0.25, .reverbRoom = ReverbRoom::hall});
    const Track plate = leftTrack(0, {.reverbSend = 0.5, .reverbRoom = ReverbRoom::plate});
    std::vector<double> steps;
    AudioProcessor::render({{burst, 0, wet, {}},
                            {burst, 0, other, {}},
                            {burst, 0, plate, {}},
                            {burst, 0, leftTrack(), {}}},
                           plain(), spans, out(), {}, [&](double f) { steps.push_back(f); });
    EXPECT_EQ(steps, (std::vector<double>{1 / 6.0, 2 / 6.0, 3 / 6.0, 4 / 6.0, 5 / 6.0, 1.0}));
}

TEST_F(AudioProcessorTest, NormalizeTargetCeilingAndSilence) {
    struct Case {
        const char* what;
        double peakDB, trackDB;
        MasterSettings master;
        double wantPeakDB, wantGainDB, wantOutDB;
    };
    const Case cases[] = {
        {"quiet: the ceiling", -30, 0, {0, true}, -30, 18, -12},
        {"full scale, master after it", 0, 0, {-3, true}, 0, -1, -4},
        {"silence: no gain", -400, 0, {0, true}, -180, 0, -400},
        {"off, a hot mix is clipped", 0, 12, {0, false}, 12, 0, 0},
    };
    for (const Case& c : cases) {
        const float level = float(std::pow(10.0, c.peakDB / 20));
        const QString s = stem(rate, [=](qint64 i) { return i % 2 ? level : -level; });
        AudioProcessor::Analysis analysis;
        const AudioData mixed =
            renderAndRead({{s, 0, leftTrack(c.trackDB), {}}}, {{0, 1}}, c.master, &analysis);
        EXPECT_NEAR(analysis.peakDB, c.wantPeakDB, 1e-4) << c.what;
        EXPECT_NEAR(analysis.normalizeGainDB, c.wantGainDB, 1e-6) << c.what;
        EXPECT_NEAR(std::fabs(mixed.channels[0][24000]), std::pow(10.0, c.wantOutDB / 20), 1e-6)
            << c.what;
    }
}

TEST_F(AudioProcessorTest, BadSamplesAndHugeGainsMixAsTheirSaneTwins) {
    // A stem with one sample that is not finite, or gains out of range, mixes exactly as its
    // twin with that sample silent and the gains at ±24 dB.
    struct Case {
        const char* what;
        float bad;
        Track track, twin;
        MasterSettings master, twinMaster;
    };
    const TrackEffects eq{.eqEnabled = true, .lowCut = true, .midGain = 6};
    const TrackEffects dynamics{.compressorEnabled = true, .reverbSend = 0.5};
    const Case cases[] = {
        {"NaN through the EQ", NaN, leftTrack(0, eq), leftTrack(0, eq), plain(), plain()},
        {"inf with normalize", inf, leftTrack(), leftTrack(), {0, true}, {0, true}},
        {"-inf, compressor and reverb",
         -inf,
         leftTrack(0, dynamics),
         leftTrack(0, dynamics),
         {0, true},
         {0, true}},
        {"track at 1000 dB", 0, leftTrack(1000), leftTrack(24), plain(), plain()},
        {"master at 1000 dB", 0, leftTrack(), leftTrack(), {1000, false}, {24, false}},
        {"EQ at ±1000 dB", 0, leftTrack(0, {.eqEnabled = true, .lowGain = 1000, .highGain = -1000}),
         leftTrack(0, {.eqEnabled = true, .lowGain = 24, .highGain = -24}), plain(), plain()},
    };
    const auto tone = [](qint64 i) { return 0.01f * std::sin(float(i) * 0.05f); };
    for (const Case& c : cases) {
        const QString bad = stem(rate, [&](qint64 i) { return i == 1000 ? c.bad : tone(i); });
        const QString good = stem(rate, [&](qint64 i) { return i == 1000 ? 0.0f : tone(i); });
        AudioProcessor::Analysis got, want;
        const AudioData mixed = renderAndRead({{bad, 0, c.track, {}}}, {{0, 1}}, c.master, &got);
        const AudioData twin =
            renderAndRead({{good, 0, c.twin, {}}}, {{0, 1}}, c.twinMaster, &want);
        EXPECT_EQ(got, want) << c.what;
        EXPECT_GT(peakOf(mixed), 0.005f) << c.what;
        EXPECT_TRUE(mixed.channels == twin.channels) << c.what;
    }

    // Samples that a gain overflows still leave a finite file.
    const QString huge = stem(rate, [](qint64 i) { return i % 2 ? 3e38f : -3e38f; });
    const AudioData mixed = renderAndRead({{huge, 0, leftTrack(24), {}}}, {{0, 1}}, {24, true});
    for (const auto& channel : mixed.channels)
        EXPECT_TRUE(
            std::all_of(channel.begin(), channel.end(), [](float x) { return std::isfinite(x); }));
}

TEST_F(AudioProcessorTest, NothingToPlayOrCancelledWritesNothing) {
    const QString s = stem(rate);
    EXPECT_THROW(AudioProcessor::render({{s, 0, leftTrack(), {}}}, plain(), {}, out()), StemError);
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

    // A render stopped while its rooms are being made on other threads ends with Cancelled,
    // writes nothing, and leaves a cache the next render can use.
    const QString wave = stem(4 * rate, [](qint64 i) { return 0.3f * float(std::sin(i * 0.01)); });
    TrackEffects wet{.reverbSend = 0.5, .reverbRoom = ReverbRoom::cathedral};
    std::vector<TrackInput> inputs{{wave, 0, leftTrack(0, wet, 0), {}}};
    const SpanList spans{{0, 4}};
    AudioProcessor::TrackCache cache;
    AudioProcessor::render(inputs, plain(), spans, out(), {}, {}, &cache);
    QFile::remove(out());
    inputs[0].track.volumeDB = -3; // the room is made again
    stop = {};
    int reports = 0;
    EXPECT_THROW(AudioProcessor::render(
                     inputs, plain(), spans, out(), stop.get_token(),
                     [&](double) {
                         if (++reports == 3)
                             stop.request_stop();
                     },
                     &cache),
                 Cancelled);
    EXPECT_FALSE(QFile::exists(out()));
    AudioProcessor::render(inputs, plain(), spans, out(), {}, {}, &cache);
    EXPECT_EQ(cache.reused(), 1);
    const AudioData withCache = readAudioFile(out());
    EXPECT_EQ(withCache.channels, renderAndRead(inputs, spans).channels);
}

TEST(SampleOps, PeakClipAndSilenceAcrossVectorLanesAndNonFiniteSamples) {
    std::vector<float> x(1037, 0.25f);
    EXPECT_EQ(dsp::peakMagnitude(x.data(), 0), 0.0f);
    for (size_t at : {size_t(0), size_t(5), size_t(8), size_t(517), size_t(1031), size_t(1036)}) {
        auto y = x;
        y[at] = -0.75f;
        EXPECT_EQ(dsp::peakMagnitude(y.data(), y.size()), 0.75f) << at;
        EXPECT_EQ(dsp::peakMagnitude(y.data() + 1, y.size() - 1), at >= 1 ? 0.75f : 0.25f) << at;
    }
    // Values that are not finite are passed over, in the vector lanes and in the tail.
    for (size_t at : {size_t(9), size_t(1036)}) {
        for (float bad : {NaN, inf, -inf}) {
            auto y = x;
            y[at] = bad;
            EXPECT_EQ(dsp::peakMagnitude(y.data(), y.size()), 0.25f) << at << " " << bad;
        }
    }

    // Clipping and silencing turn them into zero.
    const std::vector<float> in{0.5f, NaN, -2.0f, inf, 3e38f, -inf, -0.25f, NaN, 1.5f};
    std::vector<float> clipped = in, silenced = in;
    dsp::clip(clipped.data(), clipped.size());
    dsp::silenceNonFinite(silenced.data(), silenced.size());
    EXPECT_EQ(clipped, (std::vector<float>{0.5f, 0, -1, 0, 1, 0, -0.25f, 0, 1}));
    EXPECT_EQ(silenced, (std::vector<float>{0.5f, 0, -2, 0, 3e38f, 0, -0.25f, 0, 1.5f}));
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
            mix::Buffer reused(size_t(total + 777), NaN);
            mix::splice(reused, s, start, spans, lengths, total);
            ASSERT_EQ(reused.size(), size_t(total));
            EXPECT_TRUE(holds(reused, 0, total, [&](qint64 k) { return fresh[size_t(k)]; }))
                << "start " << start << ", total " << total;
            EXPECT_TRUE(holds(fresh, sum, total - sum, silence));
        }
    }
}

// Across the chunks of the file writer; subnormal samples at unity gain pass untouched (the mix
// is plain float arithmetic).
TEST_F(AudioProcessorTest, MasterGainFadesAndClipOnEveryFrameInOrder) {
    const struct {
        qint64 frames;
        double volumeDB;
        float amplitude;
    } cases[] = {{100, 7.5, 0.9f},
                 {500, 7.5, 0.9f},
                 {800, 7.5, 0.9f},
                 {40000, 7.5, 0.9f},
                 {rate, 0, 3e-40f}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frames);
        const auto wave = [&](qint64 i) { return c.amplitude * std::sin(float(i) * 0.013f); };
        const qint64 frames = c.frames;
        const QString s = stem(frames, wave);
        const AudioData mixed = renderAndRead({{s, 0, leftTrack(), {}}},
                                              {{0, double(frames) / rate}}, {c.volumeDB, false});
        ASSERT_EQ(mixed.channels[0].size(), size_t(frames));
        const float factor = float(std::pow(10.0, c.volumeDB / 20));
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
                << "frame " << i;
        }
        EXPECT_TRUE(frames != 40000 || clipped > 1000);
        EXPECT_TRUE(c.amplitude > 1e-30f ||
                    std::fpclassify(mixed.channels[0][1000]) == FP_SUBNORMAL);
    }
}

// An effect change processes its track again, a fader move none; a room is made again only
// when what is sent to it changed. The samples kept in memory are the file's.
TEST_F(AudioProcessorTest, CachedTracksAndRoomsMixAsAFullRenderDoes) {
    // Long enough for many blocks, so the rooms made on their own threads are waited for.
    const qint64 frames = 3 * rate;
    const QString a = stem(frames, [](qint64 i) { return 0.3f * float(std::sin(i * 0.01)); });
    const QString b = stem(frames, [](qint64 i) { return 0.2f * float(std::sin(i * 0.023)); });
    const QString c = stem(frames, [](qint64 i) { return i % 4800 < 50 ? 0.8f : 0.0f; });
    const TrackEffects busy{.eqEnabled = true,
                            .lowCut = true,
                            .midGain = 4,
                            .compressorEnabled = true,
                            .reverbSend = 0.3,
                            .reverbRoom = ReverbRoom::plate};
    TrackEffects hall = busy;
    hall.reverbRoom = ReverbRoom::hall;
    std::vector<TrackInput> inputs{{a, 0, leftTrack(0, busy, -0.5), {{0.2, 0.3}}},
                                   {b, 0.1, leftTrack(-3, busy, 0.5), {}},
                                   {c, 0, leftTrack(-1, hall, 0), {}}};
    SpanList spans{{0, 1.4}, {1.6, 3}};
    AudioProcessor::TrackCache cache;
    struct Step {
        const char* change;
        std::function<void(std::vector<TrackInput>&)> apply;
        int reused;
        int reusedRooms;
    };
    const std::vector<Step> steps{
        {"first render", [](auto&) {}, 0, 0},
        {"volume and pan of the plate's tracks",
         [](auto& in) { in[0].track.volumeDB = -6, in[1].track.pan = 0; }, 3, 1},
        {"the hall's track's EQ", [](auto& in) { in[2].track.effects.midGain = -2; }, 2, 1},
        {"nothing", [](auto&) {}, 3, 2},
        {"reverb send", [](auto& in) { in[0].track.effects.reverbSend = 0.6; }, 2, 1},
        {"a track changes rooms",
         [](auto& in) { in[2].track.effects.reverbRoom = ReverbRoom::plate; }, 2, 0},
        {"muted", [](auto& in) { in[1].track.muted = true; }, 2, 0},
        {"solo", [](auto& in) { in[1].track.muted = false, in[0].track.solo = true; }, 1, 0},
        {"the spans",
         [&](auto&) {
             spans = {{0, 2}};
         },
         0, 0},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.change);
        step.apply(inputs);
        mix::Buffer written;
        const auto cached =
            AudioProcessor::render(inputs, {0, true}, spans, out(), {}, {}, &cache, &written);
        EXPECT_EQ(cache.reused(), step.reused);
        EXPECT_EQ(cache.reusedRooms(), step.reusedRooms);
        const AudioData withCache = readAudioFile(out());
        ASSERT_EQ(written.size(), 2 * withCache.channels[0].size());
        for (size_t i = 0; i < withCache.channels[0].size(); ++i)
            ASSERT_TRUE(written[2 * i] == withCache.channels[0][i] &&
                        written[2 * i + 1] == withCache.channels[1][i])
                << "frame " << i;
        AudioProcessor::Analysis analysis;
        const AudioData full = renderAndRead(inputs, spans, {0, true}, &analysis);
        EXPECT_EQ(withCache.channels, full.channels);
        EXPECT_EQ(cached, analysis);
    }
}
