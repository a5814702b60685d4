#include "audio/Stems.h"
#include "platform/media/AudioFile.h"
#include "platform/media/MovieInfo.h"
#include "support/MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <gtest/gtest.h>
#include <latch>
#include <thread>

using namespace reelbox;
namespace fixtures = reelbox::testing;

namespace {

class StemsTest : public ::testing::Test {
protected:
    QString cache() const { return dir.filePath("cache"); }
    void SetUp() override { QDir().mkpath(cache()); }

    // A movie whose every sample is its own staircase value.
    QString staircaseMovie(const QString& name, int channels, qint64 frames, bool video = true,
                           double audioStart = 0) {
        MovieWriterSettings settings;
        settings.videoSize = video ? QSize(64, 36) : QSize();
        settings.audioChannels = channels;
        const int videoFrames = video ? 3 : 0;
        return fixtures::writeMovie(
            dir.filePath(name), settings, videoFrames, frames,
            [](int i) { return fixtures::indexedPicture(QSize(64, 36), i); },
            [channels](qint64 f, int c) { return fixtures::staircase(f, c, channels); },
            audioStart);
    }

    QStringList finalStems() const {
        return QDir(cache()).entryList({"*.caf"}, QDir::Files, QDir::Name);
    }
    QStringList partialStems() const {
        return QDir(cache()).entryList({"*.partial"}, QDir::Files, QDir::Name);
    }

    QTemporaryDir dir;
};

} // namespace

// Audio that starts late is preceded by silence.
TEST_F(StemsTest, OneSampleExactMonoStemPerChannelInOnePass) {
    const QString movie = staircaseMovie("take.mov", 32, 12000, true, 0.5);
    const auto info = probeMovie(movie);
    ASSERT_EQ(info.audio.size(), 1u);
    const qint64 lead = 24000; // the sound was written from half a second in
    const QStringList stems = Stems::extract(movie, cache());
    ASSERT_EQ(stems.size(), 32);
    EXPECT_EQ(QFileInfo(stems[0]).fileName(),
              QStringLiteral("take-%1-ch0.caf").arg(info.modificationTimeSeconds));
    for (int c = 0; c < 32; ++c) {
        const AudioData data = readAudioFile(stems[c]);
        EXPECT_EQ(data.sampleRate, audioSampleRate);
        ASSERT_EQ(data.channels.size(), 1u);
        ASSERT_EQ(qint64(data.channels[0].size()), lead + 12000);
        for (qint64 f = 0; f < lead; ++f)
            ASSERT_EQ(data.channels[0][size_t(f)], 0.0f) << c << " " << f;
        for (qint64 f = 0; f < 12000; ++f)
            ASSERT_EQ(data.channels[0][size_t(lead + f)], fixtures::staircase(f, c, 32))
                << c << " " << f;
    }
}

TEST_F(StemsTest, CancellingLeavesNothingAndUnchangedMoviesComeFromTheCache) {
    const QString movie = staircaseMovie("take.mov", 2, 4800);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(Stems::extract(movie, cache(), stop.get_token()), Cancelled);
    EXPECT_TRUE(finalStems().isEmpty());
    EXPECT_TRUE(partialStems().isEmpty());

    const QStringList stems = Stems::extract(movie, cache());
    ASSERT_EQ(stems.size(), 2);
    // Mark the stems so a rewrite would show.
    const QDateTime old = QDateTime::currentDateTime().addDays(-3);
    for (const QString& stem : stems) {
        QFile f(stem);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    EXPECT_EQ(Stems::extract(movie, cache()), stems);
    for (const QString& stem : stems)
        EXPECT_EQ(QFileInfo(stem).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());

    // Losing one stem decodes the movie again and rewrites all of them.
    QFile::remove(stems[1]);
    EXPECT_EQ(Stems::extract(movie, cache()), stems);
    for (const QString& stem : stems)
        EXPECT_GT(QFileInfo(stem).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch());

    // A changed movie gets new stems; the earlier ones stay.
    QFile f(movie);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(
        f.setFileTime(QDateTime::fromSecsSinceEpoch(12), QFileDevice::FileModificationTime));
    f.close();
    EXPECT_EQ(QFileInfo(Stems::extract(movie, cache())[0]).fileName(), "take-12-ch0.caf");
    EXPECT_TRUE(QFileInfo::exists(stems[0]));
}

TEST_F(StemsTest, TwoExtractionsOfOneMovieAtOnceBothGetEveryStem) {
    constexpr int channels = 3;
    constexpr qint64 frames = 2 * audioSampleRate;
    const QString movie = staircaseMovie("take.mov", channels, frames, false);
    for (int round = 0; round < 6; ++round) {
        // Every other round one stem is kept: both calls decode and replace it while a
        // reader watches that it never goes missing.
        const QStringList before = finalStems();
        for (int i = 0; i < before.size(); ++i)
            if (round % 2 == 0 || i > 0)
                QFile::remove(QDir(cache()).filePath(before[i]));
        const QString kept =
            round % 2 && !before.isEmpty() ? QDir(cache()).filePath(before[0]) : QString();
        std::latch start(3);
        std::atomic<int> finished = 0;
        bool keptWentMissing = false;
        QStringList results[2];
        std::string problems[2];
        const auto extract = [&](int k) {
            start.arrive_and_wait();
            try {
                results[k] = Stems::extract(movie, cache());
                for (const QString& stem : results[k])
                    if (!QFileInfo::exists(stem))
                        problems[k] += stem.toStdString() + " missing; ";
            } catch (const std::exception& e) {
                problems[k] = e.what();
            }
            ++finished;
        };
        std::thread a(extract, 0), b(extract, 1);
        start.arrive_and_wait();
        while (!kept.isEmpty() && finished < 2)
            keptWentMissing = keptWentMissing || !QFileInfo::exists(kept);
        a.join();
        b.join();
        EXPECT_EQ(problems[0], "") << "round " << round;
        EXPECT_EQ(problems[1], "") << "round " << round;
        EXPECT_FALSE(keptWentMissing) << "round " << round;
        ASSERT_EQ(results[0].join(' ').toStdString(), results[1].join(' ').toStdString());
        ASSERT_EQ(results[0].size(), channels);
        EXPECT_TRUE(partialStems().isEmpty());
        for (int c = 0; c < channels; ++c) {
            const AudioData data = readAudioFile(results[0][c]);
            ASSERT_EQ(qint64(data.channels[0].size()), frames) << round << " " << c;
            for (qint64 f = 0; f < frames; f += 997)
                ASSERT_EQ(data.channels[0][size_t(f)], fixtures::staircase(f, c, channels));
        }
    }
}

// Files that are not movies at all fail in the reader (BadMedia's tests); here, how each
// failure reaches the stems.
TEST_F(StemsTest, BadMediaGivesTheStemErrorsAndNoFinalStem) {
    MovieWriterSettings videoOnly;
    videoOnly.videoSize = QSize(64, 36);
    const QString cut = staircaseMovie("cut.mov", 2, 48000);
    QFile(cut).resize(QFileInfo(cut).size() / 2);
    QDir().mkpath(dir.filePath("folder.mov"));
    const struct {
        QString path;
        StemError::Kind kind;
        QString message; // the end of it
    } cases[] = {
        {fixtures::writeMovie(
             dir.filePath("silent.mov"), videoOnly, 1, 0,
             [](int i) { return fixtures::indexedPicture(QSize(64, 36), i); },
             [](qint64, int) { return 0.0f; }),
         StemError::Kind::noAudio, "This recording has no audio."},
        {dir.filePath("missing.mov"), StemError::Kind::readFailed, ""},
        {dir.filePath("folder.mov"), StemError::Kind::readFailed,
         "folder.mov\u201d is a folder, not a movie."},
        {cut, StemError::Kind::readFailed, ""}, // or complete stems, if it still reads
    };
    for (const auto& c : cases) {
        try {
            const QStringList stems = Stems::extract(c.path, cache());
            EXPECT_EQ(c.path.toStdString(), cut.toStdString()) << "no error";
            for (const QString& stem : stems)
                EXPECT_TRUE(QFileInfo::exists(stem));
        } catch (const StemError& e) {
            EXPECT_EQ(e.kind(), c.kind) << e.what();
            EXPECT_TRUE(e.message().endsWith(c.message)) << e.what();
            EXPECT_TRUE(c.kind == StemError::Kind::noAudio ||
                        e.message().startsWith("Couldn't read the audio: "))
                << e.what();
            EXPECT_TRUE(finalStems().isEmpty()) << e.what();
        }
    }
}
