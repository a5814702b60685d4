#include "platform/media/MovieWriter.h"
#include "platform/media/FrameGrabber.h"
#include "platform/media/MovieInfo.h"
#include "platform/virtual/TestCameraPattern.h"
#include "platform/virtual/TestMicrophoneSignal.h"
#include "support/MediaFixtures.h"

#include "platform/Error.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace reelbox;
using namespace reelbox::testing;

namespace {

struct Layout {
    QSize videoSize;
    int channels;
};

void PrintTo(const Layout& layout, std::ostream* out) {
    *out << layout.videoSize.width() << "x" << layout.videoSize.height() << ", " << layout.channels
         << " ch";
}

class MovieWriterLayouts : public ::testing::TestWithParam<Layout> {};

// One second and a half of a movie comes back with its tracks, sizes, channels and lengths.
TEST_P(MovieWriterLayouts, WrittenMovieReadsBack) {
    const Layout layout = GetParam();
    QTemporaryDir dir;
    MovieWriterSettings settings;
    settings.videoSize = layout.videoSize;
    settings.audioChannels = layout.channels;
    const int frames = 45;
    const qint64 audioFrames = 72000;
    const QString path = writeMovie(
        dir.filePath("take.mov"), settings, frames, audioFrames,
        [&](int i) { return indexedPicture(settings.videoSize, i); },
        [&](qint64 n, int c) { return staircase(n, c, layout.channels); });

    const MovieInfo info = probeMovie(path);
    const double oneFrame = 1.0 / 30;
    if (layout.videoSize.isEmpty()) {
        EXPECT_TRUE(info.video.empty());
    } else {
        ASSERT_EQ(info.video.size(), 1u);
        EXPECT_EQ(info.video[0].naturalSize, layout.videoSize);
        EXPECT_NEAR(info.video[0].frameRate, 30.0, 0.01);
        EXPECT_NEAR(info.video[0].startSeconds, 0.0, 1e-6);
        EXPECT_NEAR(info.video[0].durationSeconds, frames * oneFrame, oneFrame);
        // Every picture made it, the last ones too.
        FrameGrabber grabber(path);
        EXPECT_EQ(indexOfColour(grabber.imageAt(0.5, 0, QSize())), 15);
        EXPECT_EQ(indexOfColour(grabber.imageAt((frames - 1) * oneFrame, 0, QSize())), frames - 1);
    }
    if (layout.channels == 0) {
        EXPECT_TRUE(info.audio.empty());
    } else {
        ASSERT_EQ(info.audio.size(), 1u);
        EXPECT_EQ(info.audio[0].channelCount, layout.channels);
        EXPECT_EQ(info.audio[0].sampleRate, 48000);
        EXPECT_NEAR(info.audio[0].startSeconds, 0.0, 1e-6);
        EXPECT_NEAR(info.audio[0].durationSeconds, 1.5, 1e-6);

        const DecodedAudio audio = readAllAudio(path);
        ASSERT_EQ(audio.channels, layout.channels);
        ASSERT_EQ(audio.frames(), audioFrames);
        for (qint64 n = 0; n < audioFrames; n += 997)
            for (int c = 0; c < layout.channels; ++c)
                ASSERT_EQ(audio.samples[size_t(n * layout.channels + c)],
                          staircase(n, c, layout.channels));
    }
    EXPECT_NEAR(info.durationSeconds, 1.5, oneFrame);
    EXPECT_EQ(info.path, path);
}

INSTANTIATE_TEST_SUITE_P(Tracks, MovieWriterLayouts,
                         ::testing::Values(Layout{QSize(), 1}, Layout{QSize(), 2},
                                           Layout{QSize(), 8}, Layout{QSize(160, 90), 0},
                                           Layout{QSize(160, 90), 2}, Layout{QSize(320, 180), 8}));

TEST(MovieInfo, ReportsTheModificationTimeInWholeSeconds) {
    QTemporaryDir dir;
    MovieWriterSettings settings;
    settings.audioChannels = 1;
    const QString path =
        writeMovie(dir.filePath("take.mov"), settings, 0, 480, {}, [](qint64, int) { return 0.f; });
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_TRUE(file.setFileTime(QDateTime::fromMSecsSinceEpoch(1234900, Qt::UTC),
                                 QFileDevice::FileModificationTime));
    file.close();
    EXPECT_EQ(probeMovie(path).modificationTimeSeconds, 1234);
}

TEST(MovieWriter, FinalNameAppearsOnlyWhenFinished) {
    QTemporaryDir dir;
    const QString path = dir.filePath("take.mov");
    MovieWriterSettings settings;
    settings.audioChannels = 2;
    std::vector<float> silence(4800 * 2, 0.0f);
    {
        MovieWriter writer(path, settings);
        writer.writeAudio(silence.data(), 4800, 0);
        EXPECT_FALSE(QFile::exists(path));
        EXPECT_TRUE(QFile::exists(path + ".partial"));
    }
    // Abandoned: nothing is left behind.
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(path + ".partial"));

    MovieWriter writer(path, settings);
    writer.writeAudio(silence.data(), 4800, 0);
    writer.finish();
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_FALSE(QFile::exists(path + ".partial"));
    EXPECT_THROW(writer.writeAudio(silence.data(), 4800, 0.1), Error);
}

TEST(MovieWriter, RejectsSettingsItCannotWrite) {
    QTemporaryDir dir;
    MovieWriterSettings nothing;
    EXPECT_THROW(MovieWriter(dir.filePath("a.mov"), nothing), Error);
    MovieWriterSettings odd;
    odd.videoSize = QSize(161, 90);
    EXPECT_THROW(MovieWriter(dir.filePath("b.mov"), odd), Error);
    MovieWriterSettings fine;
    fine.audioChannels = 1;
    EXPECT_THROW(MovieWriter(dir.filePath("missing/c.mov"), fine), Error);
    EXPECT_TRUE(QDir(dir.path()).isEmpty());

    MovieWriter audioOnly(dir.filePath("d.mov"), fine);
    EXPECT_THROW(audioOnly.writeVideoFrame(indexedPicture(QSize(160, 90), 0), 0), Error);
}

// Audio that arrives late leaves silence; audio that overlaps is trimmed, so the sound stays
// on the pictures' time line.
TEST(MovieWriter, AudioGapsAreFilledAndOverlapsTrimmed) {
    QTemporaryDir dir;
    const QString path = dir.filePath("gaps.mov");
    MovieWriterSettings settings;
    settings.audioChannels = 1;
    std::vector<float> ones(24000, 1.0f);
    std::vector<float> twos(24000, 2.0f);
    {
        MovieWriter writer(path, settings);
        writer.writeAudio(ones.data(), 24000, 0.0);  // 0 … 0.5 s
        writer.writeAudio(twos.data(), 24000, 1.0);  // after a 0.5 s gap
        writer.writeAudio(ones.data(), 24000, 1.25); // overlaps the last 0.25 s
        writer.writeAudio(twos.data(), 480, 1.7501); // 5 µs late: within the slack, follows on
        writer.finish();
    }
    const DecodedAudio audio = readAllAudio(path);
    ASSERT_EQ(audio.frames(), 48000 + 24000 + 12000 + 480);
    EXPECT_EQ(audio.samples[0], 1.0f);
    EXPECT_EQ(audio.samples[23999], 1.0f);
    EXPECT_EQ(audio.samples[24000], 0.0f);
    EXPECT_EQ(audio.samples[47999], 0.0f);
    EXPECT_EQ(audio.samples[48000], 2.0f);
    EXPECT_EQ(audio.samples[71999], 2.0f);
    EXPECT_EQ(audio.samples[72000], 1.0f); // from 1.5 s: the part of the third call past the end
    EXPECT_EQ(audio.samples[83999], 1.0f);
    EXPECT_EQ(audio.samples[84000], 2.0f);
}

TEST(MovieWriter, DropsFramesThatDoNotMoveForward) {
    QTemporaryDir dir;
    MovieWriterSettings settings;
    settings.videoSize = QSize(160, 90);
    MovieWriter writer(dir.filePath("t.mov"), settings);
    const QImage picture = indexedPicture(settings.videoSize, 1);
    EXPECT_TRUE(writer.writeVideoFrame(picture, 0.0));
    EXPECT_TRUE(writer.writeVideoFrame(picture, 1.0 / 30));
    EXPECT_FALSE(writer.writeVideoFrame(picture, 1.0 / 30));
    EXPECT_FALSE(writer.writeVideoFrame(picture, 0.0));
    EXPECT_FALSE(writer.writeVideoFrame(QImage(), 0.5));
    EXPECT_TRUE(writer.writeVideoFrame(picture, 2.0 / 30));
    writer.finish();
    EXPECT_NEAR(probeMovie(dir.filePath("t.mov")).video.at(0).durationSeconds, 0.1, 1e-3);
}

// Frames in other formats and sizes are converted and scaled to the movie's picture.
TEST(MovieWriter, AcceptsAnyImageFormatAndSize) {
    QTemporaryDir dir;
    const QString path = dir.filePath("formats.mov");
    MovieWriterSettings settings;
    settings.videoSize = QSize(160, 90);
    const std::vector<QImage::Format> formats{QImage::Format_RGB888, QImage::Format_RGBA8888,
                                              QImage::Format_ARGB32_Premultiplied,
                                              QImage::Format_RGB16, QImage::Format_BGR888};
    {
        MovieWriter writer(path, settings);
        for (size_t i = 0; i < formats.size(); ++i) {
            const QImage picture =
                indexedPicture(i % 2 ? QSize(320, 180) : QSize(64, 36), int(i) * 11)
                    .convertToFormat(formats[i]);
            ASSERT_TRUE(writer.writeVideoFrame(picture, double(i) / 30));
        }
        writer.finish();
    }
    FrameGrabber grabber(path);
    for (size_t i = 0; i < formats.size(); ++i) {
        const QImage image = grabber.imageAt(double(i) / 30, 0, QSize());
        EXPECT_EQ(image.size(), settings.videoSize);
        EXPECT_EQ(indexOfColour(image), int(i) * 11) << "format " << formats[i];
    }
}

// A display rotation is stored with the movie; readers show the picture turned.
TEST(MovieWriter, RotatedMovieReportsTurnedSizeAndPicture) {
    QTemporaryDir dir;
    const QString path = dir.filePath("portrait.mov");
    MovieWriterSettings settings;
    settings.videoSize = QSize(160, 90);
    settings.rotationDegrees = 90;
    QImage picture(settings.videoSize, QImage::Format_RGB32);
    picture.fill(qRgb(0, 0, 230));
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 80; ++x)
            picture.setPixel(x, y, qRgb(230, 0, 0)); // left half red
    writeMovie(path, settings, 3, 0, [&](int) { return picture; }, {});

    const MovieInfo info = probeMovie(path);
    ASSERT_EQ(info.video.size(), 1u);
    EXPECT_EQ(info.video[0].naturalSize, QSize(90, 160));

    FrameGrabber grabber(path);
    EXPECT_EQ(grabber.naturalSize(), QSize(90, 160));
    const QImage image = grabber.imageAt(0, 0, QSize(45, 1000));
    ASSERT_EQ(image.size(), QSize(45, 80));
    // Turned a quarter clockwise, the left half is on top.
    EXPECT_GT(qRed(image.pixel(22, 10)), 180);
    EXPECT_LT(qBlue(image.pixel(22, 10)), 60);
    EXPECT_GT(qBlue(image.pixel(22, 70)), 180);
    EXPECT_LT(qRed(image.pixel(22, 70)), 60);
}

// The test sources written together stay in step: the white flash of second 1 and the click
// of second 1 sit at the same instant of the movie.
TEST(MovieWriter, TestSourcesStayInStep) {
    QTemporaryDir dir;
    const QString path = dir.filePath("sync.mov");
    MovieWriterSettings settings;
    settings.videoSize = QSize(160, 90);
    settings.audioChannels = 2;
    const TestMicrophoneSignal microphone(2);
    writeMovie(
        path, settings, 60, 96000,
        [&](int i) { return TestCameraPattern::render(i, settings.videoSize); },
        [&](qint64 n, int c) { return microphone.sample(c, n); });

    FrameGrabber grabber(path);
    auto isWhite = [](const QImage& image) {
        const QRgb p = image.pixel(image.width() / 2, image.height() / 2);
        return qRed(p) > 240 && qGreen(p) > 240 && qBlue(p) > 240;
    };
    EXPECT_TRUE(isWhite(grabber.imageAt(1.0, 0, QSize())));
    EXPECT_FALSE(isWhite(grabber.imageAt(1.0 - 1.0 / 30, 0, QSize())));
    EXPECT_FALSE(isWhite(grabber.imageAt(1.0 + 1.0 / 30, 0, QSize())));

    const DecodedAudio audio = readAllAudio(path);
    ASSERT_EQ(audio.frames(), 96000);
    EXPECT_EQ(audio.samples[48000 * 2], TestMicrophoneSignal::clickAmplitude);
    EXPECT_EQ(audio.samples[48000 * 2 + 1], TestMicrophoneSignal::clickAmplitude);
    EXPECT_LT(std::abs(audio.samples[(48000 - 1) * 2]), 0.26f);
}

} // namespace
