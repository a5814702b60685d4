#include "platform/media/VideoDecoder.h"
#include "platform/media/FrameGrabber.h"
#include "support/MediaFixtures.h"

#include "platform/Cancellation.h"
#include "platform/Error.h"
#include "platform/media/MovieInfo.h"

#include <QPainter>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <optional>

using namespace reelbox;
using namespace reelbox::testing;

namespace {

constexpr int fps = 30;

// Four seconds of 30 fps pictures, picture i in the colour of i % 100, key frames every
// second (0, 30, 60, 90).
class VideoDecoderTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        directory = std::make_unique<QTemporaryDir>();
        MovieWriterSettings settings;
        settings.videoSize = QSize(160, 90);
        settings.audioChannels = 2;
        moviePath = writeMovie(
            directory->filePath("colours.mov"), settings, 4 * fps, 4 * 48000,
            [&](int i) { return indexedPicture(settings.videoSize, i % 100); },
            [](qint64 n, int c) { return staircase(n, c, 2); });
    }
    static void TearDownTestSuite() { directory.reset(); }
    // The colour index of the picture at `seconds`; -2 for a null image.
    static int pictureAt(VideoDecoder& decoder, double seconds) {
        const QImage image = decoder.frameAt(seconds);
        return image.isNull() ? -2 : indexOfColour(image);
    }
    static inline std::unique_ptr<QTemporaryDir> directory;
    static inline QString moviePath;
};

// Going back or far ahead seeks to the picture on screen (also right before a key frame); before
// the first picture it is the first, past the end none (-2), and decoding goes on from there.
TEST_F(VideoDecoderTest, TimesBehindOrFarAheadSeek) {
    VideoDecoder decoder(moviePath);
    struct Case {
        double seconds;
        int frame;
    };
    const std::vector<Case> cases{
        {2.5, 75},  {0.99, 29},   {1.0, 30},    {0.0, 0},    {2.99, 89},   {1.99, 59}, {1.97, 59},
        {0.5, 15},  {3.999, 119}, {0.9999, 29}, {3.0, 90},   {2.9999, 89}, {0.0, 0},   {3.9, 117},
        {1.5, 45},  {2.0, 60},    {0.01, 0},    {0.0334, 1}, {-1.0, 0},    {-0.5, 0},  {0.02, 0},
        {0.04, 1},  {-0.01, 0},   {0.1, 3},     {2.1, 63},   {2.2, 66},    {0.0, 0},   {3.5, 105},
        {3.6, 108}, {0.0, 0},     {3.85, 115},  {3.95, 118}, {3.99, 119},  {4.0, -2},  {60.0, -2},
        {1.5, 45},  {1.6, 48}};
    for (const Case& c : cases)
        EXPECT_EQ(pictureAt(decoder, c.seconds), c.frame % 100) << "at " << c.seconds;
    // Straight to the end of a fresh decoder.
    VideoDecoder fresh(moviePath);
    EXPECT_TRUE(fresh.frameAt(5.0).isNull());
    EXPECT_EQ(pictureAt(fresh, 3.98), 119 % 100);
}

// Increasing times give the picture on screen from its start to just before the next one, as
// decoded 4:2:0 (BT.709) or converted, whole or a region; pictures handed out keep their
// contents while later ones reuse buffers; past the end the picture is null.
TEST_F(VideoDecoderTest, IncreasingTimesGiveThePictureOnScreen) {
    VideoDecoder decoder(moviePath);
    auto lumaOf = [](int index) {
        const QRgb c = indexedPicture(QSize(1, 1), index).pixel(0, 0);
        return 16.0 + 219.0 * (0.2126 * qRed(c) + 0.7152 * qGreen(c) + 0.0722 * qBlue(c)) / 255;
    };
    auto centreLuma = [](const YuvPicture& picture) {
        return double(picture.plane(0)[45 * picture.stride(0) + 80]);
    };
    auto indexAt = [](const QImage& image, QPoint at) {
        return indexOfColour(image.copy(QRect(at, QSize(1, 1))));
    };
    const QRect region(60, 30, 40, 30); // holds the centre
    std::optional<YuvPicture> kept;
    std::vector<QImage> keptImages;
    for (int i = 0; i < 4 * fps; ++i) {
        const double start = double(i) / fps, middle = (i + 0.5) / fps;
        ASSERT_EQ(indexOfColour(decoder.frameAt(start)), i % 100) << "at " << start;
        const std::optional<YuvPicture> picture = decoder.yuvFrameAt(middle);
        ASSERT_TRUE(picture.has_value());
        ASSERT_EQ(picture->size(), QSize(160, 90));
        EXPECT_EQ(picture->matrix(), YuvPicture::Matrix::bt709);
        EXPECT_NEAR(centreLuma(*picture), lumaOf(i % 100), 1.6) << i;
        const QImage part = decoder.frameAt(middle, region);
        ASSERT_EQ(part.size(), QSize(160, 90));
        for (const QPoint at : {region.center(), region.topLeft(), region.bottomRight()})
            EXPECT_EQ(indexAt(part, at), i % 100) << i;
        const QImage image = decoder.frameAt(middle);
        EXPECT_EQ(image.format(), QImage::Format_RGB32);
        for (const QPoint at : {QPoint(80, 45), QPoint(0, 0), QPoint(159, 0), QPoint(159, 89)})
            EXPECT_EQ(indexAt(image, at), i % 100) << at.x() << "," << at.y();
        EXPECT_EQ(indexOfColour(decoder.frameAt(double(i + 1) / fps - 1e-4)), i % 100) << i;
        if (i == 5)
            kept = picture;
        if (i >= 10 && i < 20)
            keptImages.push_back(image);
    }
    EXPECT_NEAR(centreLuma(*kept), lumaOf(5), 1.6);
    for (size_t k = 0; k < keptImages.size(); ++k)
        EXPECT_EQ(indexOfColour(keptImages[k]), 10 + int(k));
    const std::optional<YuvPicture> past = decoder.yuvFrameAt(4.5);
    ASSERT_TRUE(past.has_value());
    EXPECT_TRUE(past->isNull());
}

// Stills are the nearest picture (the first or last outside the movie or for no number), a key
// frame within the tolerance, fitted to the size asked for; many at once can be cancelled.
TEST_F(VideoDecoderTest, StillsAreTheNearestPicture) {
    FrameGrabber grabber(moviePath);
    EXPECT_EQ(grabber.naturalSize(), QSize(160, 90));
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double nan = std::nan("");
    struct Case {
        double seconds;
        int frame;
        double tolerance = 0;
    };
    const std::vector<Case> cases{
        {1.51, 45},    {0.0, 0},        {1.52, 46},     {3.99, 119},    {0.034, 1},
        {1.0, 30},     {0.99, 30},      {2.0, 60},      {1.97, 59},     {-1.0, 0},
        {50.0, 119},   {0.5, 15},       {2.5, 75},      {0.01, 0},      {59.0 / fps, 59},
        {nan, 0},      {inf, 119},      {-inf, 0},      {1.4, 30, 0.5}, {1.6, 60, 0.5},
        {0.2, 0, 0.5}, {2.45, 60, 0.5}, {1.5, 45, 0.1}, {0.7, 21, 0.1}, {3.9, 117, 0.2},
        {1.1, 33, nan}};
    for (const Case& c : cases)
        EXPECT_EQ(indexOfColour(grabber.imageAt(c.seconds, c.tolerance, QSize())), c.frame % 100)
            << "at " << c.seconds << " ± " << c.tolerance;
    struct Fit {
        QSize maxSize, size;
    };
    for (const Fit c : {Fit{QSize(80, 80), QSize(80, 45)}, Fit{QSize(1000, 30), QSize(53, 30)},
                        Fit{QSize(0, 45), QSize(80, 45)}, Fit{QSize(1000, 1000), QSize(160, 90)},
                        Fit{QSize(), QSize(160, 90)}}) {
        const QImage image = grabber.imageAt(2.0, 0, c.maxSize);
        EXPECT_EQ(image.size(), c.size);
        EXPECT_EQ(image.format(), QImage::Format_RGB32);
        EXPECT_EQ(indexOfColour(image), 60);
    }
    std::vector<int> indexes;
    for (const QImage& image : grabber.imagesAt({2.0, 0.5, 1.0}, 0, QSize(64, 64)))
        indexes.push_back(indexOfColour(image));
    EXPECT_EQ(indexes, (std::vector<int>{60, 15, 30}));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(grabber.imagesAt({0.0, 1.0}, 0, QSize(), stop.get_token()), Cancelled);
    // Decoding for playback goes on from there.
    VideoDecoder decoder(moviePath);
    decoder.stillAt(2.5, 0);
    EXPECT_EQ(pictureAt(decoder, 2.6), 78);
    EXPECT_EQ(pictureAt(decoder, 0.5), 15);
}

// A movie whose pictures begin late (a fragmented movie has no edit list for an empty start)
// shows its first picture for every earlier time.
TEST(VideoDecoder, LateFirstPicture) {
    QTemporaryDir dir;
    const QString path = dir.filePath("late.mov");
    MovieWriterSettings settings;
    settings.videoSize = QSize(64, 36);
    {
        MovieWriter writer(path, settings);
        for (int i = 0; i < 20; ++i)
            ASSERT_TRUE(writer.writeVideoFrame(indexedPicture(settings.videoSize, i),
                                               0.5 + double(i) / fps));
        writer.finish();
    }
    const double start = probeMovie(path).video.at(0).startSeconds;
    VideoDecoder decoder(path);
    EXPECT_EQ(indexOfColour(decoder.frameAt(0.0)), 0);
    EXPECT_EQ(indexOfColour(decoder.frameAt(start / 2)), 0);
    EXPECT_EQ(indexOfColour(decoder.frameAt(start + 1.5 / fps)), 1);
    EXPECT_EQ(indexOfColour(decoder.frameAt(start / 2)), 0); // behind: back to the first
    EXPECT_EQ(indexOfColour(decoder.frameAt(start + 19.5 / fps)), 19);
    EXPECT_TRUE(decoder.frameAt(start + 20.5 / fps).isNull());
}

// The display rotation is applied: where the red left half and the blue right half end up.
TEST(VideoDecoder, PicturesAreTurned) {
    QTemporaryDir dir;
    MovieWriterSettings settings;
    settings.videoSize = QSize(160, 90);
    QImage picture(settings.videoSize, QImage::Format_RGB32);
    picture.fill(qRgb(0, 0, 230));
    QPainter(&picture).fillRect(0, 0, 80, 90, QColor(230, 0, 0));
    struct Turn {
        int degrees;
        QPoint left, right;
    };
    for (const Turn turn : {Turn{0, {20, 45}, {140, 45}}, Turn{90, {45, 20}, {45, 140}},
                            Turn{180, {140, 45}, {20, 45}}, Turn{270, {45, 140}, {45, 20}}}) {
        SCOPED_TRACE(turn.degrees);
        settings.rotationDegrees = turn.degrees;
        const QString path = writeMovie(dir.filePath(QStringLiteral("%1.mov").arg(turn.degrees)),
                                        settings, 3, 0, [&](int) { return picture; }, {});
        VideoDecoder decoder(path);
        const QSize expected = turn.degrees % 180 ? QSize(90, 160) : QSize(160, 90);
        EXPECT_EQ(decoder.naturalSize(), expected);
        EXPECT_EQ(probeMovie(path).video.at(0).naturalSize, expected);
        // Turned pictures are only handed out converted.
        EXPECT_EQ(decoder.yuvFrameAt(0.0).has_value(), turn.degrees == 0);
        // Regions of the turned picture and stills (at half the size) are turned too.
        for (const QRect region : {QRect(), QRect(QPoint(0, 0), expected), QRect(0, 0, 1, 1)}) {
            const QImage image = region.width() == 1
                                     ? decoder.stillAt(1.0 / fps, 0, expected / 2).scaled(expected)
                                     : decoder.frameAt(1.0 / fps, region);
            ASSERT_EQ(image.size(), expected);
            EXPECT_GT(qRed(image.pixel(turn.left)), 180);
            EXPECT_LT(qBlue(image.pixel(turn.left)), 60);
            EXPECT_GT(qBlue(image.pixel(turn.right)), 180);
            EXPECT_LT(qRed(image.pixel(turn.right)), 60);
        }
    }
}

} // namespace
