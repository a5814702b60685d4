#include "platform/media/AudioFile.h"
#include "platform/media/AudioReader.h"
#include "platform/media/FrameGrabber.h"
#include "platform/media/MovieInfo.h"
#include "platform/media/VideoDecoder.h"
#include "platform/virtual/TestCameraPattern.h"
#include "support/MediaFixtures.h"

#include "platform/Error.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace reelbox;
using namespace reelbox::testing;

#if defined(__SANITIZE_ADDRESS__)
// Fresh memory holds a fixed pattern instead of whatever was there before, so a library that
// reads memory it never set (libx265 3.5 does, for a movie of one frame) fails the same way on
// every run instead of now and then.
extern "C" const char* __asan_default_options() {
    return "max_malloc_fill_size=16777216";
}
#endif

namespace {

class BadMedia : public ::testing::Test {
protected:
    QString writeTake(const QString& name, int videoFrames, int channels, qint64 audioFrames) {
        MovieWriterSettings settings;
        if (videoFrames > 0)
            settings.videoSize = QSize(160, 90);
        settings.audioChannels = channels;
        return writeMovie(
            dir.filePath(name), settings, videoFrames, audioFrames,
            [&](int i) { return TestCameraPattern::render(i, settings.videoSize); },
            [channels](qint64 n, int c) { return staircase(n, c, channels); });
    }
    QString writeBytes(const QString& name, const QByteArray& bytes) {
        const QString path = dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            ADD_FAILURE() << "can't write " << name.toStdString();
        return path;
    }
    QByteArray contents(const QString& path) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            ADD_FAILURE() << "can't read " << path.toStdString();
        return file.readAll();
    }
    // The message of the Error opening the file throws.
    template <typename Open> static QString failureOf(Open open) {
        try {
            open();
        } catch (const Error& error) {
            return error.message();
        }
        return QStringLiteral("opened");
    }
    // Opening the file in every way fails with an Error that names it.
    void expectUnreadable(const QString& path) {
        const QString prefix = QStringLiteral("Can't open “%1”: ").arg(QFileInfo(path).fileName());
        EXPECT_TRUE(failureOf([&] { probeMovie(path); }).startsWith(prefix))
            << prefix.toStdString();
        EXPECT_THROW(AudioReader reader(path), Error);
        EXPECT_TRUE(failureOf([&] { VideoDecoder decoder(path); }).startsWith(prefix));
    }
    QTemporaryDir dir;
};

// Files that are not movies, or movies cut short, fail to open.
TEST_F(BadMedia, FilesThatAreNotWholeMoviesFailToOpen) {
    expectUnreadable(dir.filePath("missing.mov"));
    expectUnreadable(writeBytes("empty.mov", QByteArray()));
    expectUnreadable(writeBytes("zeros.mov", QByteArray(256 * 1024, '\0')));
    expectUnreadable(writeBytes(
        "take.mov", QByteArray("This is a note about the take, not a movie.\n").repeated(200)));
    expectUnreadable(dir.path()); // a folder
    const QByteArray whole = contents(writeTake("whole.mov", 30, 2, 48000));
    expectUnreadable(writeBytes("half.mov", whole.left(whole.size() / 2)));
    expectUnreadable(writeBytes("almost.mov", whole.left(whole.size() - 64)));
}

// Damage inside the media data leaves the index intact: reading goes on to the end, pictures
// and stills either decode or fail with an Error, and the undamaged start still decodes.
TEST_F(BadMedia, DamagedMediaDataIsReadWithoutCrashing) {
    QByteArray bytes = contents(writeTake("whole.mov", 30, 2, 48000));
    for (qsizetype i = bytes.size() / 5; i < bytes.size() / 2; i += 97)
        bytes[i] = char(0xa5);
    const QString path = writeBytes("damaged.mov", bytes);
    EXPECT_EQ(probeMovie(path).audio.at(0).channelCount, 2);
    try {
        EXPECT_EQ(readAllAudio(path).frames(), 48000);
    } catch (const Error&) {
    }
    VideoDecoder decoder(path);
    FrameGrabber grabber(path);
    int pictures = 0, stills = 0;
    for (const double t : {0.0, 0.3, 0.6, 0.9, 0.1, 0.95}) {
        try {
            const QImage image = decoder.frameAt(t);
            pictures += !image.isNull() && image.size() == QSize(160, 90);
        } catch (const Error&) {
        }
        try {
            EXPECT_EQ(grabber.imageAt(t, 0.2, QSize(80, 80)).size(), QSize(80, 45));
            ++stills;
        } catch (const Error&) {
        }
    }
    EXPECT_GT(pictures, 0);
    EXPECT_GT(stills, 0);
}

TEST_F(BadMedia, MoviesWithoutAudioOrVideo) {
    const QString silent = writeTake("take.mov", 10, 0, 0);
    EXPECT_TRUE(probeMovie(silent).audio.empty());
    EXPECT_EQ(failureOf([&] { AudioReader reader(silent); }),
              QStringLiteral("“take.mov” has no audio"));
    const QString sound = writeTake("sound.mov", 0, 1, 4800);
    EXPECT_TRUE(probeMovie(sound).video.empty());
    EXPECT_EQ(failureOf([&] { FrameGrabber grabber(sound); }),
              QStringLiteral("“sound.mov” has no video"));
}

TEST_F(BadMedia, ThirtyTwoChannels) {
    const QString path = writeTake("wide.mov", 3, 32, 4800);
    const MovieInfo info = probeMovie(path);
    ASSERT_EQ(info.audio.size(), 1u);
    EXPECT_EQ(info.audio[0].channelCount, 32);
    const DecodedAudio audio = readAllAudio(path);
    ASSERT_EQ(audio.channels, 32);
    ASSERT_EQ(audio.frames(), 4800);
    for (const qint64 n : {0, 1, 2399, 4799})
        for (const int c : {0, 1, 17, 31})
            EXPECT_EQ(audio.samples[size_t(n * 32 + c)], staircase(n, c, 32)) << n << " " << c;

    // The same width at another rate goes through the resampler.
    const QString resampled = dir.filePath("wide.caf");
    writeAudioFile(resampled, std::vector<std::vector<float>>(32, std::vector<float>(4410, 0.25f)),
                   44100);
    const DecodedAudio converted = readAllAudio(resampled);
    ASSERT_EQ(converted.channels, 32);
    EXPECT_NEAR(double(converted.frames()), 4800.0, 1.0);
    EXPECT_NEAR(converted.samples[size_t(2400 * 32 + 31)], 0.25f, 1e-3);
}

} // namespace
