#include "audio/Filmstrip.h"
#include "platform/Error.h"
#include "support/MediaFixtures.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace reelbox;
namespace fixtures = reelbox::testing;

namespace {

class FilmstripTest : public ::testing::Test {
protected:
    Take takeIn(const QString& name) {
        Take take;
        take.folder = dir.filePath(name);
        QDir().mkpath(take.folder);
        take.info.name = name;
        take.info.duration = 2;
        return take;
    }

    QTemporaryDir dir;
};

} // namespace

// Frames at the slice centres, handed over one by one as they are made; a movie that can't
// give any is an error, and gives no frames to the call that collects them.
TEST_F(FilmstripTest, FramesAtTheSliceCentresHandedOverAsTheyAreMade) {
    const QString movie = fixtures::writeNumberedMovie(dir.filePath("m.mov"), {160, 90}, 90);
    const auto images = Filmstrip::frames(movie, 6, 48);
    ASSERT_EQ(images.size(), 6u);
    for (size_t i = 0; i < images.size(); ++i) {
        EXPECT_LE(images[i].width(), 192);
        EXPECT_LE(images[i].height(), 96);
        EXPECT_NEAR(double(images[i].width()) / images[i].height(), 16.0 / 9.0, 0.02);
        const int index = fixtures::indexOfColour(images[i]);
        ASSERT_GE(index, 0) << i;
        const double requested = (double(i) + 0.5) * 3.0 / 6;
        EXPECT_LE(std::abs(index / 30.0 - requested), 0.5 + 1.0 / 30) << i << " got " << index;
    }
    EXPECT_TRUE(Filmstrip::frames(movie, 0, 48).empty());
    std::stop_source stop;
    std::vector<int> indexes;
    EXPECT_THROW(Filmstrip::eachFrame(
                     movie, 6, 20,
                     [&](int index, const QImage& image) {
                         EXPECT_FALSE(image.isNull());
                         indexes.push_back(index);
                         if (index == 1)
                             stop.request_stop();
                     },
                     stop.get_token()),
                 Cancelled);
    EXPECT_EQ(indexes, (std::vector<int>{0, 1}));
    EXPECT_EQ(Filmstrip::eachFrame(movie, 6, 20, [](int, const QImage&) {}), 6);

    MovieWriterSettings soundOnly;
    soundOnly.audioChannels = 1;
    const QString sound = fixtures::writeMovie(dir.filePath("sound.mov"), soundOnly, 0, 48000, {},
                                               [](qint64, int) { return 0.1f; });
    for (const QString& path : {dir.filePath("missing.mov"), sound}) {
        EXPECT_THROW(Filmstrip::eachFrame(path, 3, 20, [](int, const QImage&) {}), Error)
            << path.toStdString();
        EXPECT_TRUE(Filmstrip::frames(path, 4, 48).empty()) << path.toStdString();
    }
}

TEST_F(FilmstripTest, ThumbnailIsMadeOnceFromTheMainMovieOrTheFirstOverdubWithVideo) {
    Take take = takeIn("main");
    fixtures::writeNumberedMovie(take.moviePath(), {480, 270}, 60, 40);
    const auto image = Filmstrip::ensureThumbnail(take);
    ASSERT_TRUE(image);
    const QString path = QDir(take.folder).filePath("thumbnail.jpg");
    const QImage written(path, "JPG");
    EXPECT_EQ(written.width(), 240);
    EXPECT_LE(written.height(), 240);
    EXPECT_EQ(fixtures::indexOfColour(written), 70); // frame 30 at t = 1.0

    // Once made, it is returned as it is, even without the movie.
    QFile::remove(take.moviePath());
    const auto again = Filmstrip::ensureThumbnail(take);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->size(), written.size());

    // Without the main movie the thumbnail comes from the first overdub with video; with no
    // picture at all there is none, and no file.
    const Take empty = takeIn("empty");
    EXPECT_FALSE(Filmstrip::ensureThumbnail(empty));
    EXPECT_FALSE(QFileInfo::exists(QDir(empty.folder).filePath("thumbnail.jpg")));

    Take overdubs = takeIn("overdubs");
    overdubs.info.mainRemoved = true;
    for (bool hasVideo : {false, true}) {
        Overdub o;
        o.id = QUuid::createUuid();
        o.fileName = o.id.toString(QUuid::WithoutBraces) + ".mov";
        o.hasVideo = hasVideo;
        overdubs.info.overdubs.push_back(o);
    }
    fixtures::writeNumberedMovie(
        QDir(overdubs.overdubsFolder()).filePath(overdubs.info.overdubs[1].fileName), {320, 180},
        40, 7);
    const auto fromOverdub = Filmstrip::ensureThumbnail(overdubs);
    ASSERT_TRUE(fromOverdub);
    EXPECT_EQ(fixtures::indexOfColour(*fromOverdub), 37);
}
