#include "platform/media/AudioReader.h"
#include "platform/media/FrameGrabber.h"
#include "platform/media/MovieInfo.h"
#include "platform/media/VideoDecoder.h"
#include "platform/virtual/TestCameraPattern.h"
#include "support/MediaFixtures.h"
#include "support/TestSupport.h"

#include "platform/Error.h"

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
        test::writeFile(dir.filePath(name), bytes);
        return dir.filePath(name);
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

// Files that are not movies fail to open, and so does a track the movie lacks.
TEST_F(BadMedia, FilesThatAreNotMoviesOrLackTheTrackFailToOpen) {
    expectUnreadable(dir.filePath("missing.mov"));
    expectUnreadable(writeBytes("empty.mov", QByteArray()));
    expectUnreadable(writeBytes("zeros.mov", QByteArray(256 * 1024, '\0')));
    expectUnreadable(writeBytes(
        "take.mov", QByteArray("This is a note about the take, not a movie.\n").repeated(200)));
    expectUnreadable(dir.path()); // a folder

    const QString silent = writeTake("take.mov", 10, 0, 0);
    EXPECT_TRUE(probeMovie(silent).audio.empty());
    EXPECT_EQ(failureOf([&] { AudioReader reader(silent); }),
              QStringLiteral("“take.mov” has no audio"));
    const QString sound = writeTake("sound.mov", 0, 1, 4800);
    EXPECT_TRUE(probeMovie(sound).video.empty());
    EXPECT_EQ(failureOf([&] { FrameGrabber grabber(sound); }),
              QStringLiteral("“sound.mov” has no video"));
}

// Damaged media data and fragment indexes: reading either goes on or fails with an Error.
TEST_F(BadMedia, DamagedMediaDataIsReadWithoutCrashing) {
    QByteArray bytes = test::readFile(writeTake("whole.mov", 30, 2, 48000));
    for (qsizetype i = bytes.size() / 5; i < bytes.size() / 2; i += 97)
        bytes[i] = char(0xa5);
    const QString path = writeBytes("damaged.mov", bytes);
    EXPECT_EQ(probeMovie(path).audio.at(0).channelCount, 2);
    try {
        EXPECT_LE(readAllAudio(path).frames(), 48000);
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

} // namespace
