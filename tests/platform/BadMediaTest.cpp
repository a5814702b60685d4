#include "platform/media/AudioFile.h"
#include "platform/media/AudioReader.h"
#include "platform/media/FrameGrabber.h"
#include "platform/media/MovieInfo.h"
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
    // Opening the file in every way fails with an Error that names it.
    void expectUnreadable(const QString& path) {
        const QString name = QFileInfo(path).fileName();
        try {
            probeMovie(path);
            ADD_FAILURE() << "probed " << name.toStdString();
        } catch (const Error& error) {
            EXPECT_TRUE(error.message().startsWith(QStringLiteral("Can't open “%1”: ").arg(name)))
                << error.what();
        }
        EXPECT_THROW(AudioReader reader(path), Error);
        EXPECT_THROW(FrameGrabber grabber(path), Error);
    }
    QTemporaryDir dir;
};

TEST_F(BadMedia, FilesThatAreNotMoviesFailToOpen) {
    expectUnreadable(dir.filePath("missing.mov"));
    expectUnreadable(writeBytes("empty.mov", QByteArray()));
    expectUnreadable(writeBytes("zeros.mov", QByteArray(256 * 1024, '\0')));
    expectUnreadable(writeBytes(
        "take.mov", QByteArray("This is a note about the take, not a movie.\n").repeated(200)));
    expectUnreadable(dir.path()); // a folder
}

TEST_F(BadMedia, TruncatedMoviesFailToOpen) {
    const QByteArray whole = contents(writeTake("whole.mov", 30, 2, 48000));
    expectUnreadable(writeBytes("half.mov", whole.left(whole.size() / 2)));
    expectUnreadable(writeBytes("almost.mov", whole.left(whole.size() - 64)));
}

// Damage inside the media data leaves the index intact: reading goes on to the end, pictures
// either decode or fail with an Error.
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
    FrameGrabber grabber(path);
    for (const double t : {0.0, 0.4, 0.9}) {
        try {
            EXPECT_EQ(grabber.imageAt(t, 0, QSize(80, 80)).size(), QSize(80, 45));
        } catch (const Error&) {
        }
    }
}

TEST_F(BadMedia, MovieWithoutAudio) {
    const QString path = writeTake("take.mov", 10, 0, 0);
    const MovieInfo info = probeMovie(path);
    EXPECT_TRUE(info.audio.empty());
    EXPECT_EQ(info.video.size(), 1u);
    try {
        AudioReader reader(path);
        FAIL() << "read audio from a silent movie";
    } catch (const Error& error) {
        EXPECT_EQ(error.message(), QStringLiteral("“take.mov” has no audio"));
    }
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

// A movie of one picture: libx265 flushed that early hands out an unset decoding time, which
// the writer must replace for the file to be written at all.
TEST_F(BadMedia, OneFrameMovie) {
    const QString path = writeTake("one.mov", 1, 0, 0);
    const MovieInfo info = probeMovie(path);
    ASSERT_EQ(info.video.size(), 1u);
    EXPECT_NEAR(info.video[0].durationSeconds, 1.0 / 30, 1e-3);
    FrameGrabber grabber(path);
    for (const double t : {0.0, 0.5, 10.0}) {
        const QImage image = grabber.imageAt(t, 0, QSize());
        EXPECT_EQ(image.pixel(80, 45), qRgb(255, 255, 255)) << t; // frame 0 is a flash
    }
    EXPECT_THROW(AudioReader reader(path), Error);
}

} // namespace
