#include "platform/media/AudioReader.h"
#include "platform/media/AudioFile.h"
#include "platform/media/MovieInfo.h"
#include "support/MediaFixtures.h"

#include "platform/Error.h"

#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace reelbox;
using namespace reelbox::testing;

namespace {

// Every sample of a float movie, one channel or many, with or without video, comes back in its
// place; buffer times count the frames before them.
TEST(AudioReader, FloatMovieReadsBackSampleExact) {
    struct Case {
        QSize videoSize;
        int channels;
    };
    for (const Case c : {Case{QSize(160, 90), 32}, Case{QSize(), 1}}) {
        QTemporaryDir dir;
        MovieWriterSettings settings;
        settings.videoSize = c.videoSize;
        settings.audioChannels = c.channels;
        const qint64 frames = 48000 + 1234;
        const QString path = writeMovie(
            dir.filePath("take.mov"), settings, 31, frames,
            [&](int i) { return indexedPicture(settings.videoSize, i); },
            [&](qint64 n, int ch) { return staircase(n, ch, c.channels); });
        const MovieInfo info = probeMovie(path);
        EXPECT_EQ(info.video.size(), c.videoSize.isEmpty() ? 0u : 1u);
        ASSERT_EQ(info.audio.size(), 1u);
        EXPECT_EQ(info.audio[0].channelCount, c.channels);
        EXPECT_EQ(info.audio[0].sampleRate, 48000);
        EXPECT_NEAR(info.audio[0].startSeconds, 0.0, 1e-6);
        EXPECT_NEAR(info.audio[0].durationSeconds, frames / 48000.0, 1e-6);
        EXPECT_NEAR(info.durationSeconds, frames / 48000.0, 1.0 / 30);

        const DecodedAudio audio = readAllAudio(path);
        ASSERT_EQ(audio.channels, c.channels);
        ASSERT_EQ(audio.frames(), frames);
        for (qint64 n = 0; n < frames; ++n)
            for (int ch = 0; ch < c.channels; ++ch)
                ASSERT_EQ(audio.samples[size_t(n * c.channels + ch)], staircase(n, ch, c.channels))
                    << n << " " << ch;
        ASSERT_GT(audio.bufferTimes.size(), 1u);
        for (size_t i = 0; i < audio.bufferTimes.size(); ++i)
            EXPECT_NEAR(audio.bufferTimes[i], audio.bufferStarts[i] / 48000.0, 1e-6);
        AudioReader reader(path);
        AudioBuffer buffer;
        while (reader.read(buffer)) {
        }
        EXPECT_FALSE(reader.read(buffer));
        EXPECT_EQ(buffer.frames, 0);
    }
}

double countZeroCrossings(const std::vector<float>& samples, int channels, int channel, qint64 from,
                          qint64 to) {
    int crossings = 0;
    for (qint64 n = from + 1; n < to; ++n) {
        const float a = samples[size_t((n - 1) * channels + channel)];
        const float b = samples[size_t(n * channels + channel)];
        if ((a < 0) != (b < 0))
            ++crossings;
    }
    return crossings;
}

// 44.1 kHz and 16-bit input comes out as float at 48 kHz, at its pitch and level.
TEST(AudioReader, OtherRatesAndIntegerSamplesComeOutAsFloatAt48k) {
    QTemporaryDir dir;
    const QString path = dir.filePath("tone.caf");
    const int rate = 44100;
    const qint64 frames = rate * 2;
    // 1 kHz on the even channels, 3 kHz on the odd ones.
    std::vector<std::vector<float>> channels(32, std::vector<float>(size_t(frames)));
    for (qint64 n = 0; n < frames; ++n)
        for (int c = 0; c < 32; ++c)
            channels[size_t(c)][size_t(n)] =
                0.5f * float(std::sin(2 * std::numbers::pi * (c % 2 ? 3000 : 1000) * n / rate));
    writeAudioFile(path, channels, rate);

    AudioReader reader(path);
    EXPECT_EQ(reader.sourceSampleRate(), rate);
    const DecodedAudio audio = readAllAudio(path);
    ASSERT_EQ(audio.channels, 32);
    EXPECT_NEAR(double(audio.frames()), 96000.0, 1.0) << audio.frames();
    // One second in the middle: 2 crossings per period.
    for (const int c : {0, 1, 30, 31})
        EXPECT_NEAR(countZeroCrossings(audio.samples, 32, c, 24000, 72000), c % 2 ? 6000 : 2000, 2)
            << c;

    const QString wav = dir.filePath("half.wav");
    writeWav16(wav, 1, rate, std::vector<qint16>(size_t(rate), 16384)); // mono, one second
    const DecodedAudio half = readAllAudio(wav);
    ASSERT_EQ(half.channels, 1);
    EXPECT_NEAR(double(half.frames()), 48000.0, 1.0) << half.frames();
    // Away from the edges the resampled level is the input's.
    for (qint64 n = 1000; n < 47000; n += 500)
        EXPECT_NEAR(half.samples[size_t(n)], 0.5f, 1e-3) << n;
}

} // namespace
