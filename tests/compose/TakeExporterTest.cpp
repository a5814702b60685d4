#include "compose/TakeExporter.h"
#include "compose/CompositionFrameSource.h"
#include "compose/FrameRenderer.h"
#include "compose/TakeComposer.h"
#include "platform/media/AudioFile.h"
#include "platform/media/MovieInfo.h"
#include "platform/media/Mp4Writer.h"
#include "platform/media/VideoDecoder.h"
#include "platform/media/VideoTimes.h"
#include "support/MediaFixtures.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

using namespace reelbox;
namespace fixtures = reelbox::testing;

namespace {

constexpr int rate = 48000;

// Two colours side by side (or one above the other), so that a crop, a mirror or a swapped
// layer shows; 96 × 54.
void writeHalves(const QString& path, int frames, QRgb first, QRgb second, bool stacked = false) {
    const QSize size(96, 54);
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(second);
    for (int y = 0; y < (stacked ? size.height() / 2 : size.height()); ++y)
        for (int x = 0; x < (stacked ? size.width() : size.width() / 3); ++x)
            picture.setPixel(x, y, first);
    fixtures::writePictures(path, size, frames, [&](int) { return picture; });
}

class TakeExporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        take.folder = dir.filePath("take");
        take.info.name = QStringLiteral("Export");
        take.info.duration = 2;
        writeHalves(take.moviePath(), 60, qRgb(220, 20, 20), qRgb(220, 20, 20));
        Overdub o;
        o.id = QUuid::createUuid();
        o.fileName = QStringLiteral("blue.mov");
        o.duration = 2;
        o.hasVideo = true;
        take.info.overdubs.push_back(o);
        writeHalves(QDir(take.overdubsFolder()).filePath(o.fileName), 60, qRgb(20, 20, 220),
                    qRgb(20, 20, 220));
        std::vector<float> mix(2 * rate); // a tone: the encoding takes a while, with progress
        for (size_t i = 0; i < mix.size(); ++i)
            mix[i] = 0.4f * float(std::sin(2 * M_PI * 440 * double(i) / rate));
        writeAudioFile(mixPath(), {mix, mix}, rate);
    }

    QString mixPath() const { return dir.filePath("mix.caf"); }
    QString out(const char* name) const { return dir.filePath(name); }

    TakeComposer::Result composed(const ExportSettings& settings, bool withAudio = true) const {
        return TakeComposer::build(
            take, {{0, 2}}, withAudio ? std::optional(mixPath()) : std::nullopt, settings, true);
    }

    QTemporaryDir dir;
    Take take;
};

} // namespace

// H.264 side by side with its sound; sound only as M4A, or as MP4 when the take has no video.
// (The sound's samples and their place against the picture: CompositionSound's tests and
// ExportSync; the index in front: Mp4Writer's tests.)
TEST_F(TakeExporterTest, EachFormatWithItsStreams) {
    ExportSettings settings; // side by side, original aspect
    std::vector<double> progress;
    const QString path = out("take.mp4");
    TakeExporter::exportTake(composed(settings), ExportSettings::Format::h264, path,
                             [&](double f) { progress.push_back(f); });

    const MovieInfo info = probeMovie(path);
    ASSERT_EQ(info.video.size(), 1u);
    ASSERT_EQ(info.audio.size(), 1u);
    EXPECT_EQ(info.video[0].naturalSize, QSize(96, 54));
    EXPECT_EQ(info.audio[0].channelCount, 2);
    EXPECT_NEAR(info.video[0].durationSeconds, 2.0, 1.0 / 30 + 1e-6);
    EXPECT_NEAR(info.audio[0].durationSeconds, 2.0, 0.05);

    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), 1.0);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(std::count(progress.begin(), progress.end(), 1.0), 1);

    // Sound only, and a take without video.
    const QString m4a = out("take.m4a");
    TakeExporter::exportTake(composed({}), ExportSettings::Format::audio, m4a);
    MovieInfo soundOnly = probeMovie(m4a);
    EXPECT_TRUE(soundOnly.video.empty());
    ASSERT_EQ(soundOnly.audio.size(), 1u);
    EXPECT_NEAR(soundOnly.durationSeconds, 2.0, 0.05);

    take.info.mainRemoved = true;
    take.info.overdubs.clear();
    const TakeComposer::Result noVideo = composed({});
    ASSERT_FALSE(noVideo.videoComposition);
    const QString mp4 = out("sound.mp4");
    TakeExporter::exportTake(noVideo, ExportSettings::Format::h264, mp4);
    soundOnly = probeMovie(mp4);
    EXPECT_TRUE(soundOnly.video.empty());
    EXPECT_EQ(soundOnly.audio.size(), 1u);
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.partial"}, QDir::Files | QDir::Hidden).isEmpty());
}

// Whether the decoded pictures are copied as they are (every layer drawn 1:1) or drawn by the
// renderer; a portrait canvas in HEVC too.
TEST_F(TakeExporterTest, ExportShowsTheRenderersPicture) {
    writeHalves(take.moviePath(), 60, qRgb(220, 20, 20), qRgb(20, 200, 20));
    writeHalves(QDir(take.overdubsFolder()).filePath(take.info.overdubs[0].fileName), 60,
                qRgb(20, 20, 220), qRgb(230, 230, 230), true);
    using Layout = ExportSettings::VideoLayout;
    struct Case {
        Layout layout;
        bool mirror;
        ExportSettings::Aspect aspect = ExportSettings::Aspect::original;
        ExportSettings::Format format = ExportSettings::Format::h264;
    };
    // The renderer's own pictures of each layout, mirrored or not: FrameRenderer's tests.
    for (const Case& c : std::vector<Case>{{Layout::split, true},
                                           {Layout::pip, false},
                                           {Layout::main, false},
                                           {Layout::main, true},
                                           {Layout::main, false, ExportSettings::Aspect::portrait,
                                            ExportSettings::Format::hevc}}) {
        ExportSettings settings;
        settings.layout = c.layout;
        settings.mirror = c.mirror;
        settings.aspect = c.aspect;
        const TakeComposer::Result result = composed(settings, false);
        ASSERT_TRUE(result.videoComposition);
        const QString path = out("picture.mp4");
        TakeExporter::exportTake(result, c.format, path);

        const QSize size(int(result.renderSize.width), int(result.renderSize.height));
        const std::vector<DrawOp> ops = drawOps(*result.videoComposition);
        CompositionFrameSource sources(result.composition);
        VideoDecoder exported(path);
        for (const double t : {0.5, 1.5}) {
            const auto frames = sources.framesAt(toTicks(t));
            const QImage expected = renderFrame(size, ops, [&](std::int32_t id) {
                auto it = frames.find(id);
                return it == frames.end() ? nullptr : &it->second;
            });
            // Pictures of different sizes differ by 255.
            EXPECT_LT(fixtures::meanDifference(expected, exported.frameAt(t + 1.0 / 60)), 4.0)
                << "layout " << int(c.layout) << (c.mirror ? " mirrored" : "") << " aspect "
                << int(c.aspect) << " at " << t;
        }
    }
}

// A player seeking in an export decodes from the key frame before the target.
TEST_F(TakeExporterTest, KeyFramesComeAtLeastEveryTwoSeconds) {
    constexpr double seconds = 7;
    take.info.duration = seconds;
    take.info.overdubs.clear();
    writeHalves(take.moviePath(), int(seconds * 30), qRgb(220, 20, 20), qRgb(20, 20, 220));
    for (const auto format : {ExportSettings::Format::h264, ExportSettings::Format::hevc}) {
        const QString path = out(format == ExportSettings::Format::h264 ? "k264.mp4" : "k265.mp4");
        TakeExporter::exportTake(
            TakeComposer::build(take, {{0, seconds}}, std::nullopt, ExportSettings{}, true), format,
            path);
        const std::vector<double> keys = videoKeyFrameTimes(path);
        ASSERT_FALSE(keys.empty());
        EXPECT_NEAR(keys.front(), 0.0, 1e-6);
        std::vector<double> edges = keys;
        edges.push_back(probeMovie(path).video.at(0).durationSeconds);
        for (size_t i = 1; i < edges.size(); ++i)
            EXPECT_LE(edges[i] - edges[i - 1], 2.0 + 1e-6)
                << "format " << int(format) << " after the key frame at " << edges[i - 1];
    }
}

// A bad destination is reported by its given name before any encoding; a cancelled export
// leaves the file there as it was and no temporary file.
TEST_F(TakeExporterTest, TheDestinationIsCheckedFirstAndReplacedOnlyWhenFinished) {
    QDir().mkpath(out("folder.mp4"));
    for (const QString& destination : {out("folder.mp4"), out("missing/take.mp4")}) {
        std::vector<double> progress;
        try {
            TakeExporter::exportTake(composed({}), ExportSettings::Format::h264, destination,
                                     [&](double f) { progress.push_back(f); });
            ADD_FAILURE() << "no error for " << destination.toStdString();
        } catch (const Error& e) {
            EXPECT_TRUE(e.message().contains("“" + destination + "”")) << e.what();
        }
        EXPECT_TRUE(progress.empty()) << destination.toStdString();
        EXPECT_THROW(TakeExporter::checkDestination(destination), Error);
    }
    EXPECT_NO_THROW(TakeExporter::checkDestination(out("fine.mp4")));
    EXPECT_FALSE(QFile::exists(out("fine.mp4")));

    const QString path = out("take.mp4");
    test::writeFile(path, "old contents");
    std::stop_source stop;
    std::vector<double> progress;
    // The take five times over: progress reports (every 0.1 s) come while it is encoded.
    EXPECT_THROW(TakeExporter::exportTake(
                     TakeComposer::build(take, SpanList(5, {0, 2}), mixPath(), {}, true),
                     ExportSettings::Format::h264, path,
                     [&](double f) {
                         progress.push_back(f);
                         stop.request_stop();
                     },
                     stop.get_token()),
                 Cancelled);
    EXPECT_THROW(TakeExporter::exportTake(composed({}), ExportSettings::Format::h264, path, {},
                                          stop.get_token()),
                 Cancelled);
    EXPECT_EQ(test::readFile(path), "old contents");
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.partial"}, QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_EQ(std::count(progress.begin(), progress.end(), 1.0), 0);

    TakeExporter::exportTake(composed({}, false), ExportSettings::Format::h264, path);
    EXPECT_GT(QFileInfo(path).size(), 1000);
    EXPECT_EQ(probeMovie(path).audio.size(), 0u);
}

TEST(Mp4WriterFinish, ReportsProgressAndStops) {
    QTemporaryDir dir;
    for (const bool cancel : {false, true}) {
        Mp4WriterSettings settings;
        settings.video = Mp4WriterSettings::Video::h264;
        settings.videoSize = QSize(160, 90);
        const QString path = dir.filePath(cancel ? "cancelled.mp4" : "finished.mp4");
        Mp4Writer writer(path, settings);
        // Noise, so that the file is large enough to be read back in many blocks.
        QImage noise(160, 90, QImage::Format_RGB32);
        std::uint32_t seed = 1;
        const std::vector<float> sound(size_t(1600 * 2), 0.25f);
        for (int i = 0; i < 20; ++i) {
            for (int y = 0; y < noise.height(); ++y)
                for (int x = 0; x < noise.width(); ++x)
                    noise.setPixel(x, y, (seed = seed * 1664525u + 1013904223u) >> 8);
            writer.writeVideoFrame(noise, i);
            writer.writeAudio(sound.data(), 1600);
        }
        std::stop_source stop;
        std::vector<double> progress;
        const auto report = [&](double f) {
            progress.push_back(f);
            if (cancel && f > 0.5)
                stop.request_stop();
        };
        if (cancel) {
            EXPECT_THROW(writer.finish(report, stop.get_token()), Cancelled);
            EXPECT_LT(progress.back(), 1.0);
            continue;
        }
        writer.finish(report);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
        EXPECT_EQ(progress.back(), 1.0);
        // Packets of the drain and blocks of the move, not only the ends of the two steps.
        EXPECT_GT(std::count_if(progress.begin(), progress.end(),
                                [](double f) { return f > 0 && f < 0.5; }),
                  3);
        EXPECT_GT(std::count_if(progress.begin(), progress.end(),
                                [](double f) { return f > 0.5 && f < 1; }),
                  3);
        const QStringList boxes = fixtures::topLevelBoxes(path);
        EXPECT_LT(boxes.indexOf("moov"), boxes.indexOf("mdat"));
        EXPECT_EQ(probeMovie(path).video.size(), 1u);
    }
}

TEST(TakeExporterNames, SuggestedFileNames) {
    TakeInfo info;
    info.name = QStringLiteral("a/b:c");
    EXPECT_EQ(TakeExporter::suggestedFileName(info), QStringLiteral("a-b.c.mp4"));
    info.exportSettings.format = ExportSettings::Format::audio;
    EXPECT_EQ(TakeExporter::suggestedFileName(info), QStringLiteral("a-b.c.m4a"));
}
