#include "audio/Stems.h"
#include "platform/media/AudioReader.h"
#include "platform/media/MovieInfo.h"
#include "platform/media/MovieRepair.h"
#include "platform/media/MovieWriter.h"
#include "platform/media/VideoDecoder.h"
#include "platform/media/VideoTimes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace reelbox;

namespace {

constexpr int rate = 48000;
constexpr int channels = 3;
constexpr double seconds = 5;
// A camera that pauses for half a second over the end of a fragment: no pictures 40 to 54.
constexpr qint64 pauseStart = 40, pauseEnd = 55;
bool paused(qint64 k) {
    return k >= pauseStart && k < pauseEnd;
}

// Picture k is flat grey with a luma that names it (modulo 25).
int lumaOf(qint64 k) {
    return 24 + 8 * int(k % 25);
}
// Sample i of channel c: a staircase that repeats every 1000 frames.
float sampleOf(qint64 i, int c) {
    return float(i % 1000) / 2000.0f - 0.25f + 0.1f * float(c);
}
// A clock 200 ppm fast, as a capture maps pictures onto its sound.
double timeOf(qint64 k) {
    return double(k) / 30.0 * (1.0 + 200e-6);
}

// A movie as the recorder writes it: live encoder settings, sound in 10 ms blocks.
void writeCaptureMovie(const QString& path) {
    MovieWriterSettings settings;
    settings.videoSize = QSize(320, 180);
    settings.audioChannels = channels;
    settings.videoBitRate = 320 * 180 * 8;
    settings.realTime = true;
    MovieWriter writer(path, settings);
    YuvPicture picture(settings.videoSize, YuvPicture::Matrix::bt709);
    std::vector<float> block(480 * channels);
    qint64 written = 0;
    for (qint64 k = 0; k < qint64(seconds * 30); ++k) {
        if (!paused(k)) {
            std::memset(picture.plane(0), lumaOf(k), size_t(picture.stride(0)) * 180);
            std::memset(picture.plane(1), 128, size_t(picture.stride(1)) * 90);
            std::memset(picture.plane(2), 128, size_t(picture.stride(2)) * 90);
            ASSERT_TRUE(writer.writeVideoPicture(picture, timeOf(k)));
        }
        for (; written < std::llround(timeOf(k + 1) * rate); written += 480) {
            for (int i = 0; i < 480; ++i)
                for (int c = 0; c < channels; ++c)
                    block[size_t(i * channels + c)] = sampleOf(written + i, c);
            writer.writeAudioAt(block.data(), 480, written);
        }
    }
    writer.finish(timeOf(qint64(seconds * 30)));
}

int lumaAt(VideoDecoder& decoder, double t) {
    const std::optional<YuvPicture> picture = decoder.yuvFrameAt(t);
    if (!picture || picture->isNull())
        return -1;
    return picture->plane(0)[90 * picture->stride(0) + 160];
}

class FragmentedMovie : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        directory = std::make_unique<QTemporaryDir>();
        path = directory->filePath(QStringLiteral("take.mov"));
        writeCaptureMovie(path);
    }
    static void TearDownTestSuite() { directory.reset(); }

    // A copy of the movie cut to `bytes`.
    static QString cutCopy(qint64 bytes, const QString& name) {
        const QString copy = directory->filePath(name);
        QFile::remove(copy);
        EXPECT_TRUE(QFile::copy(path, copy));
        QFile file(copy);
        EXPECT_TRUE(file.open(QIODevice::ReadWrite));
        EXPECT_TRUE(file.resize(bytes));
        return copy;
    }

    static inline std::unique_ptr<QTemporaryDir> directory;
    static inline QString path;
};

} // namespace

// The pictures after the pause keep their times; the header states the length.
TEST_F(FragmentedMovie, ReadersSeeEveryPictureAndSampleInPlace) {
    const MovieInfo info = probeMovie(path);
    ASSERT_EQ(info.video.size(), 1u);
    ASSERT_EQ(info.audio.size(), 1u);
    EXPECT_EQ(info.video[0].codecTag, QStringLiteral("hvc1"));
    EXPECT_EQ(info.audio[0].codecName, QStringLiteral("pcm_f32be"));
    EXPECT_EQ(info.audio[0].channelCount, channels);
    EXPECT_NEAR(info.durationSeconds, timeOf(150), 0.02);
    const MovieHeaderDurations header = readMovieHeaderDurations(path);
    EXPECT_NEAR(header.movieSeconds, timeOf(150), 0.01);
    ASSERT_EQ(header.trackSeconds.size(), 2u);
    for (const double trackSeconds : header.trackSeconds)
        EXPECT_NEAR(trackSeconds, timeOf(150), 0.01);

    const std::vector<double> times = videoFrameTimes(path);
    ASSERT_EQ(qint64(times.size()), qint64(seconds * 30) - (pauseEnd - pauseStart));
    for (qint64 k = 0, i = 0; k < qint64(seconds * 30); ++k) {
        if (paused(k))
            continue;
        EXPECT_NEAR(times[size_t(i++)], timeOf(k), 0.001) << "picture " << k;
    }

    // Forward, backward, into the pause and across fragments, as the player and stills seek.
    VideoDecoder decoder(path);
    struct Seek {
        double at;
        qint64 frame;
    };
    const std::vector<Seek> seeks{
        {0.0, 0},         {4.51, 135},      {1.0, 29}, {timeOf(30), 30},  {timeOf(40) + 0.001, 39},
        {timeOf(50), 39}, {timeOf(55), 55}, {2.5, 74}, {timeOf(149), 149}};
    for (const auto& seek : seeks)
        EXPECT_NEAR(lumaAt(decoder, seek.at), lumaOf(seek.frame), 3) << "at " << seek.at;

    AudioReader reader(path);
    ASSERT_EQ(reader.channelCount(), channels);
    AudioBuffer buffer;
    qint64 frame = 0, wrong = 0;
    while (reader.read(buffer)) {
        for (qint64 i = 0; i < buffer.frames; ++i, ++frame)
            for (int c = 0; c < channels; ++c)
                wrong += buffer.samples[size_t(i * channels + c)] != sampleOf(frame, c);
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(frame, std::llround(timeOf(150) * rate)); // cut at the end of the last picture
}

TEST_F(FragmentedMovie, InterruptedWritingIsCutBackToItsLastFragment) {
    const qint64 size = QFileInfo(path).size();
    const struct {
        double keep;       // share of the file left by the interruption
        double minSeconds; // at least this much survives
    } cuts[] = {{0.97, 4.0}, {0.6, 2.4}, {0.3, 0.9}};
    for (const auto& cut : cuts) {
        const QString copy =
            cutCopy(qint64(double(size) * cut.keep), QStringLiteral("cut%1.mov").arg(cut.keep));
        const MovieRepairResult repaired = repairFragmentedMovie(copy);
        EXPECT_GT(repaired.droppedBytes, 0) << cut.keep;
        EXPECT_EQ(QFileInfo(copy).size(), repaired.keptBytes);

        const MovieInfo info = probeMovie(copy);
        ASSERT_EQ(info.video.size(), 1u);
        ASSERT_EQ(info.audio.size(), 1u);
        // The repaired header states the length of what was kept.
        const MovieHeaderDurations header = readMovieHeaderDurations(copy);
        ASSERT_EQ(header.trackSeconds.size(), 2u);
        EXPECT_NEAR(header.trackSeconds[0], info.video[0].durationSeconds, 0.01) << cut.keep;
        EXPECT_NEAR(header.trackSeconds[1], info.audio[0].durationSeconds, 0.01) << cut.keep;
        EXPECT_NEAR(header.movieSeconds,
                    std::max(info.video[0].durationSeconds, info.audio[0].durationSeconds), 0.01)
            << cut.keep;
        EXPECT_GE(info.video[0].durationSeconds, cut.minSeconds) << cut.keep;
        EXPECT_GE(info.audio[0].durationSeconds, cut.minSeconds) << cut.keep;
        VideoDecoder decoder(copy);
        EXPECT_NEAR(lumaAt(decoder, cut.minSeconds - 0.5),
                    lumaOf(qint64((cut.minSeconds - 0.5) / timeOf(1))), 3);
        QTemporaryDir cache;
        EXPECT_EQ(Stems::extract(copy, cache.path()).size(), channels);
    }

    // A finished movie needs nothing; a file without a movie header can't be saved.
    const MovieRepairResult whole = repairFragmentedMovie(path);
    EXPECT_EQ(whole.droppedBytes, 0);
    EXPECT_GE(whole.fragments, 10); // at least two a second
    EXPECT_EQ(QFileInfo(path).size(), size);
    EXPECT_THROW(repairFragmentedMovie(cutCopy(20, QStringLiteral("header.mov"))), Error);
}
