#include "audio/Waveform.h"
#include "platform/Error.h"
#include "platform/SampleRate.h"
#include "platform/media/AudioFile.h"

#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <utility>

using namespace reelbox;

namespace {

class WaveformTest : public ::testing::Test {
protected:
    QString stem(const std::vector<float>& samples, int rate = audioSampleRate) {
        const QString path = dir.filePath(QStringLiteral("stem-%1.caf").arg(++count));
        writeAudioFile(path, {samples}, rate);
        return path;
    }
    QTemporaryDir dir;
    int count = 0;
};

// A quiet tone with one spike per bucket whose height encodes the bucket's number.
std::vector<float> numberedBuckets(int buckets, int extraSamples = 0) {
    std::vector<float> samples(size_t(buckets * 480 + extraSamples));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = 0.001f * std::sin(float(i) * 0.1f);
    for (int b = 0; b < buckets; ++b)
        samples[size_t(b * 480 + (b * 37) % 480)] = -(0.01f + 0.001f * float(b));
    return samples;
}

} // namespace

// The peaks are raw magnitudes, one per 10 ms, over more than one read of 500 buckets (with
// spikes right at a block edge) and a last partial bucket; not-a-number raises none.
TEST_F(WaveformTest, OnePeakPerTenMillisecondsAcrossReadBlocks) {
    auto samples = numberedBuckets(1200, 192); // 12.004 s: a last bucket of 192 samples
    std::swap(samples[size_t(499 * 480 + (499 * 37) % 480)], samples[size_t(480 * 500 - 1)]);
    std::swap(samples[size_t(500 * 480 + (500 * 37) % 480)], samples[size_t(480 * 500)]);
    samples.back() = 1.75f;
    samples[1000] = std::numeric_limits<float>::quiet_NaN(); // never raises a peak
    const Waveform w = Waveform::load(stem(samples), 0);
    EXPECT_EQ(w.bucketDuration, 0.01);
    ASSERT_EQ(w.peaks.size(), 1201u);
    for (int b = 0; b < 1200; ++b)
        ASSERT_FLOAT_EQ(w.peaks[size_t(b)], 0.01f + 0.001f * float(b)) << b;
    EXPECT_FLOAT_EQ(w.peaks.back(), 1.75f);
}

TEST_F(WaveformTest, TheStartShiftsThePeaksOntoTakeTime) {
    const QString path = stem(numberedBuckets(50));
    const Waveform early = Waveform::load(path, -0.02);
    ASSERT_EQ(early.peaks.size(), 48u);
    EXPECT_FLOAT_EQ(early.peaks[0], 0.012f); // the stem's third bucket

    EXPECT_EQ(Waveform::load(path, 0.004).peaks.size(), 50u); // rounds to 0
    const Waveform half = Waveform::load(path, 0.005);        // rounds away from zero
    ASSERT_EQ(half.peaks.size(), 51u);
    EXPECT_EQ(half.peaks[0], 0.0f);

    const Waveform late = Waveform::load(path, 2.5);
    ASSERT_EQ(late.peaks.size(), 300u);
    for (int b = 0; b < 250; ++b)
        ASSERT_EQ(late.peaks[size_t(b)], 0.0f);
    EXPECT_FLOAT_EQ(late.peaks[250], 0.01f);
}

TEST_F(WaveformTest, ErrorsAndCancellation) {
    EXPECT_THROW(Waveform::load(dir.filePath("missing.caf"), 0), Error);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(Waveform::load(stem(numberedBuckets(10)), 0, stop.get_token()), Cancelled);
}
