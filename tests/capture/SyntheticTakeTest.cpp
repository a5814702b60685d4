#include "capture/SyntheticTake.h"
#include "audio/Stems.h"
#include "platform/Error.h"
#include "platform/media/AudioFile.h"
#include "platform/media/FrameGrabber.h"
#include "platform/media/MovieInfo.h"
#include "platform/virtual/TestMicrophoneSignal.h"
#include "support/TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace reelbox;

// The sound is the test microphone's, its click at second 1 on the white flash.
TEST(SyntheticTake, ARecordingAsTheRecorderLeavesIt) {
    test::TemporaryHome home;
    TakeLibrary library(home.filePath("library"), home.filePath("cache"));
    SyntheticTakeOptions options;
    options.seconds = 2;
    options.channels = 3;
    options.size = QSize(160, 90);
    options.overdubs = 2;
    const Take take = makeSyntheticTake(library, options);

    ASSERT_EQ(library.takes().size(), 1u);
    EXPECT_EQ(library.takes()[0], take);
    const TakeInfo& info = take.info;
    EXPECT_NEAR(info.duration, 2, 1.0 / 30);
    ASSERT_EQ(info.tracks.size(), 5u);
    EXPECT_EQ(info.tracks[2].source, Track::Source::input(2));
    EXPECT_EQ(info.tracks[4].name, QStringLiteral("Overdub 2"));

    const MovieInfo movie = probeMovie(take.moviePath());
    ASSERT_EQ(movie.video.size(), 1u);
    EXPECT_EQ(movie.video[0].naturalSize, QSize(160, 90));
    ASSERT_EQ(movie.audio.size(), 1u);
    EXPECT_EQ(movie.audio[0].channelCount, 3);

    // Overdubs lie inside the take, each movie where its record says.
    ASSERT_EQ(info.overdubs.size(), 2u);
    for (const Overdub& o : info.overdubs) {
        EXPECT_GE(o.placedStart(), 0);
        EXPECT_LE(o.placedEnd(), info.duration + 1e-6);
        EXPECT_TRUE(o.hasVideo);
        const MovieInfo overdubMovie = probeMovie(QDir(take.overdubsFolder()).filePath(o.fileName));
        EXPECT_EQ(overdubMovie.audio.at(0).channelCount, 1);
        EXPECT_EQ(overdubMovie.video.size(), 1u);
    }

    QDir().mkpath(home.filePath("stems"));
    const QStringList stems = Stems::extract(take.moviePath(), home.filePath("stems"));
    ASSERT_EQ(stems.size(), 3);
    const TestMicrophoneSignal microphone(3);
    for (int c = 0; c < 3; ++c) {
        const AudioData data = readAudioFile(stems[c]);
        ASSERT_EQ(data.channels[0].size(), 96000u);
        for (qint64 f : {0LL, 17LL, 48000LL, 48010LL, 70001LL})
            EXPECT_EQ(data.channels[0][size_t(f)], microphone.sample(c, f)) << c << " " << f;
    }
    FrameGrabber grabber(take.moviePath());
    auto isWhite = [&](double seconds) {
        const QRgb p = grabber.imageAt(seconds, 0, {}).pixel(80, 45);
        return qRed(p) > 240 && qGreen(p) > 240 && qBlue(p) > 240;
    };
    EXPECT_TRUE(isWhite(1.0));
    EXPECT_FALSE(isWhite(1.0 - 1.0 / 30));
    EXPECT_FALSE(isWhite(1.0 + 1.0 / 30));
}

TEST(SyntheticTake, AFailedTakeLeavesNoFolder) {
    test::TemporaryHome home;
    TakeLibrary library(home.filePath("library"), home.filePath("cache"));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(makeSyntheticTake(library, {}, stop.get_token()), Cancelled);
    EXPECT_TRUE(QDir(home.filePath("library")).isEmpty());
    EXPECT_TRUE(library.takes().empty());
}
