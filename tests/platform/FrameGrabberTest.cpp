#include "platform/media/FrameGrabber.h"
#include "support/MediaFixtures.h"

#include "platform/Cancellation.h"
#include "platform/Error.h"

#include <QTemporaryDir>
#include <algorithm>
#include <gtest/gtest.h>

using namespace reelbox;
using namespace reelbox::testing;

namespace {

// Three seconds of 30 fps pictures, each a colour that names its frame; a key frame every
// second (frames 0, 30, 60).
class FrameGrabberTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        directory = new QTemporaryDir;
        MovieWriterSettings settings;
        settings.videoSize = QSize(160, 90);
        settings.audioChannels = 1;
        moviePath = writeMovie(
            directory->filePath("colours.mov"), settings, 90, 3 * 48000,
            [&](int i) { return indexedPicture(settings.videoSize, i); },
            [](qint64, int) { return 0.0f; });
    }
    static void TearDownTestSuite() {
        delete directory;
        directory = nullptr;
    }
    static QTemporaryDir* directory;
    static QString moviePath;
};
QTemporaryDir* FrameGrabberTest::directory = nullptr;
QString FrameGrabberTest::moviePath;

TEST_F(FrameGrabberTest, ExactRequestsGiveTheNearestPicture) {
    FrameGrabber grabber(moviePath);
    struct Case {
        double seconds;
        int frame;
    };
    // Out of order on purpose: every request seeks afresh.
    const std::vector<Case> cases{{1.51, 45}, {0.0, 0},   {1.52, 46}, {2.99, 89}, {0.034, 1},
                                  {1.0, 30},  {0.99, 30}, {2.0, 60},  {1.97, 59}, {-1.0, 0},
                                  {50.0, 89}, {0.5, 15},  {2.5, 75},  {0.01, 0},  {59.0 / 30, 59}};
    for (const Case& c : cases)
        EXPECT_EQ(indexOfColour(grabber.imageAt(c.seconds, 0, QSize())), c.frame)
            << "at " << c.seconds;
}

// With a tolerance, a key frame close enough is taken instead of decoding up to the time.
TEST_F(FrameGrabberTest, ToleranceTakesANearbyKeyFrame) {
    FrameGrabber grabber(moviePath);
    EXPECT_EQ(indexOfColour(grabber.imageAt(1.4, 0.5, QSize())), 30);
    EXPECT_EQ(indexOfColour(grabber.imageAt(1.6, 0.5, QSize())), 60);
    EXPECT_EQ(indexOfColour(grabber.imageAt(0.2, 0.5, QSize())), 0);
    EXPECT_EQ(indexOfColour(grabber.imageAt(2.45, 0.5, QSize())), 60);
    // No key frame within 0.1 s: the exact picture.
    EXPECT_EQ(indexOfColour(grabber.imageAt(1.5, 0.1, QSize())), 45);
    EXPECT_EQ(indexOfColour(grabber.imageAt(0.7, 0.1, QSize())), 21);
}

TEST_F(FrameGrabberTest, ScalesToFitKeepingTheAspect) {
    FrameGrabber grabber(moviePath);
    EXPECT_EQ(grabber.naturalSize(), QSize(160, 90));
    EXPECT_EQ(grabber.imageAt(0, 0, QSize(80, 80)).size(), QSize(80, 45));
    EXPECT_EQ(grabber.imageAt(0, 0, QSize(1000, 30)).size(), QSize(53, 30));
    EXPECT_EQ(grabber.imageAt(0, 0, QSize(0, 45)).size(), QSize(80, 45));
    EXPECT_EQ(grabber.imageAt(0, 0, QSize(1000, 1000)).size(), QSize(160, 90)); // never enlarged
    const QImage natural = grabber.imageAt(0, 0, QSize());
    EXPECT_EQ(natural.size(), QSize(160, 90));
    EXPECT_EQ(natural.format(), QImage::Format_RGB32);
    // The scaled picture is the same picture.
    EXPECT_EQ(indexOfColour(grabber.imageAt(2.0, 0, QSize(40, 40))), 60);
}

TEST_F(FrameGrabberTest, ImagesAtFollowsTheTimesAndStopsWhenCancelled) {
    FrameGrabber grabber(moviePath);
    const std::vector<QImage> images = grabber.imagesAt({2.0, 0.5, 1.0}, 0, QSize(64, 64));
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(indexOfColour(images[0]), 60);
    EXPECT_EQ(indexOfColour(images[1]), 15);
    EXPECT_EQ(indexOfColour(images[2]), 30);

    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(grabber.imagesAt({0.0, 1.0}, 0, QSize(), stop.get_token()), Cancelled);
}

TEST(FrameGrabber, AudioOnlyMovieHasNoPictures) {
    QTemporaryDir dir;
    MovieWriterSettings settings;
    settings.audioChannels = 1;
    const QString path = writeMovie(dir.filePath("sound.mov"), settings, 0, 4800, {},
                                    [](qint64, int) { return 0.f; });
    try {
        FrameGrabber grabber(path);
        FAIL() << "opened a movie without video";
    } catch (const Error& error) {
        EXPECT_EQ(error.message(), QStringLiteral("“sound.mov” has no video"));
    }
}

} // namespace
