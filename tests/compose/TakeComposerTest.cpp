#include "compose/TakeComposer.h"
#include "platform/MediaTime.h"
#include "platform/media/AudioFile.h"
#include "support/MediaFixtures.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace reelbox;
using namespace reelbox::TakeComposer;
namespace fixtures = reelbox::testing;
using Layout = ExportSettings::VideoLayout;
using Aspect = ExportSettings::Aspect;

namespace {

const SizeD hd{1920, 1080};

ExportSettings settingsWith(Layout layout, Aspect aspect = Aspect::original, bool mirror = false) {
    ExportSettings s;
    s.layout = layout;
    s.aspect = aspect;
    s.mirror = mirror;
    return s;
}

} // namespace

// The canvas of each aspect, and the position sliding the crop: -1 left (top), +1 right
// (bottom), clamped beyond; never below 2 pixels.
TEST(TakeComposerCrop, CanvasAndPosition) {
    const auto tall = aspectRatio(Aspect::portrait), wide = aspectRatio(Aspect::landscape);
    const SizeD portraitHd{1080, 1920};
    struct Case {
        SizeD source;
        std::optional<double> aspect;
        ExportSettings::Position position;
        RectD crop;
    };
    for (const Case& c :
         std::vector<Case>{{hd, aspectRatio(Aspect::original), {}, {0, 0, 1920, 1080}},
                           {hd, wide, {}, {0, 0, 1920, 1080}},
                           {hd, aspectRatio(Aspect::square), {}, {420, 0, 1080, 1080}},
                           {hd, tall, {0, 0}, {657, 0, 606, 1080}},
                           {hd, tall, {1, 0}, {1314, 0, 606, 1080}},
                           {hd, tall, {-1, 0}, {0, 0, 606, 1080}},
                           {hd, tall, {5, 0}, {1314, 0, 606, 1080}},
                           {hd, tall, {-5, 0}, {0, 0, 606, 1080}},
                           {portraitHd, wide, {}, {0, 657, 1080, 606}},
                           {portraitHd, wide, {0, -1}, {0, 0, 1080, 606}},
                           {portraitHd, wide, {0, 1}, {0, 1314, 1080, 606}},
                           {{0, 1080}, 1.0, {}, {0, 0, 0, 1080}},
                           {{1, 1000}, 100, {}, {0, 499, 1, 2}}})
        EXPECT_EQ(cropRect(c.source, c.aspect, c.position), c.crop)
            << c.source.width << "x" << c.source.height << " at " << c.aspect.value_or(0)
            << " position " << c.position.x << ", " << c.position.y;
}

TEST(TakeComposerLayout, SplitGridsAndPictureInPicture) {
    EXPECT_EQ(layout(2, hd, Layout::split, {}),
              (std::vector<RectD>{{0, 0, 960, 1080}, {960, 0, 960, 1080}}));
    EXPECT_EQ(layout(3, hd, Layout::split, {})[2], (RectD{1280, 0, 640, 1080}));
    EXPECT_EQ(layout(4, hd, Layout::split, {}),
              (std::vector<RectD>{
                  {0, 0, 960, 540}, {960, 0, 960, 540}, {0, 540, 960, 540}, {960, 540, 960, 540}}));
    const auto five = layout(5, hd, Layout::split, {});
    EXPECT_EQ(five[2], (RectD{1280, 0, 640, 540}));
    EXPECT_EQ(five[4], (RectD{640, 540, 640, 540})); // a short last row is left-aligned
    // A tall canvas stacks.
    EXPECT_EQ(layout(2, {606, 1080}, Layout::split, {}),
              (std::vector<RectD>{{0, 0, 606, 540}, {0, 540, 606, 540}}));
    // One source, or main only: the whole canvas.
    EXPECT_EQ(layout(1, hd, Layout::split, {}), (std::vector<RectD>{{0, 0, 1920, 1080}}));
    EXPECT_EQ(layout(3, hd, Layout::main, {}), (std::vector<RectD>{{0, 0, 1920, 1080}}));

    // Picture in picture: the first source fills the canvas, the rest stack up the right.
    const auto tiles = layout(3, hd, Layout::pip, {hd, hd, {1080, 1920}});
    ASSERT_EQ(tiles.size(), 3u);
    EXPECT_EQ(tiles[0], (RectD{0, 0, 1920, 1080}));
    EXPECT_EQ(tiles[1], (RectD{1302, 714, 576, 324}));
    EXPECT_EQ(tiles[2], (RectD{1302, 714 - 42 - 1024, 576, 1024})); // its own shape
    EXPECT_EQ(layout(2, {606, 1080}, Layout::pip, {hd, hd})[1].width, even(606 * 0.42));
}

TEST(TakeComposerPicture, VisibleSourcesAndLayerOrder) {
    TakeInfo info;
    Overdub a, b;
    a.id = QUuid::createUuid();
    b.id = QUuid::createUuid();
    info.overdubs = {a, b};
    const std::vector<VideoSource> sources{{1, Lane::mainVideo(), hd},
                                           {2, Lane::overdubVideo(a.id), hd},
                                           {3, Lane::overdubVideo(b.id), hd},
                                           {4, Lane::overdubVideo(QUuid::createUuid()), hd}};

    Picture p = picture(sources, info, hd, settingsWith(Layout::split), 600);
    ASSERT_EQ(p.placements.size(), 3u);
    EXPECT_EQ(p.placements[0].tile, (RectD{0, 0, 640, 1080}));
    EXPECT_EQ(p.placements[0].crop, (RectD{640, 0, 640, 1080}));
    std::vector<std::int32_t> order;
    for (const LayerInstruction& l : p.videoComposition.layers)
        order.push_back(l.trackID);
    EXPECT_EQ(order, (std::vector<std::int32_t>{2, 3, 1})); // source 0 at the back

    // Main only draws just the main video; with it hidden, nothing.
    p = picture(sources, info, hd, settingsWith(Layout::main), 600);
    ASSERT_EQ(p.placements.size(), 1u);
    EXPECT_EQ(p.placements[0].trackID, 1);
    info.showMainVideo = false;
    p = picture(sources, info, hd, settingsWith(Layout::main), 600);
    EXPECT_TRUE(p.placements.empty());
    EXPECT_TRUE(p.videoComposition.layers.empty());

    // Pip with the main hidden: the first visible overdub fills the canvas.
    p = picture(sources, info, hd, settingsWith(Layout::pip), 600);
    ASSERT_EQ(p.placements.size(), 2u);
    EXPECT_EQ(p.placements[0].trackID, 2);
    EXPECT_EQ(p.placements[0].tile, (RectD{0, 0, 1920, 1080}));
    EXPECT_EQ(p.placements[1].tile, (RectD{1302, 714, 576, 324}));

    info.overdubs[1].showVideo = false;
    EXPECT_EQ(visible(sources, info, settingsWith(Layout::split)).size(), 1u);
}

namespace {

class TakeComposerBuild : public ::testing::Test {
protected:
    void SetUp() override {
        take.folder = dir.path();
        take.info.name = QStringLiteral("Compose");
        take.info.duration = 3;
        fixtures::writeNumberedMovie(take.moviePath(), hd_small, 90);
    }

    Overdub addOverdub(double start, double nudge, int frames) {
        Overdub o;
        o.id = QUuid::createUuid();
        o.fileName = QStringLiteral("%1.mov").arg(take.info.overdubs.size());
        o.start = start;
        o.nudge = nudge;
        o.hasVideo = true;
        o.duration = frames / 30.0;
        fixtures::writeNumberedMovie(QDir(take.overdubsFolder()).filePath(o.fileName), {64, 36},
                                     frames);
        take.info.overdubs.push_back(o);
        return o;
    }

    static std::vector<CompositionSegment> segmentsOf(const Result& r, std::int32_t trackID) {
        const CompositionTrack* t = r.composition.track(trackID);
        return t ? t->segments : std::vector<CompositionSegment>{};
    }

    const QSize hd_small{96, 54};
    QTemporaryDir dir;
    Take take;
};

} // namespace

// The mix, longer than the spans, is cut to their total.
TEST_F(TakeComposerBuild, SpansLaidEndToEndWithHiddenPartsLeftEmpty) {
    take.info.edit.hidden[Lane::mainVideo().key()] = {{0.5, 0.75}};
    const QString mixPath = dir.filePath("mix.caf");
    writeAudioFile(mixPath, {std::vector<float>(48000 * 5, 0.1f), std::vector<float>(48000 * 5)},
                   48000);
    const SpanList spans{{0, 1}, {2, 3}};
    const Result r = build(take, spans, mixPath, {}, false);
    ASSERT_EQ(r.videoSources.size(), 1u);
    const auto segments = segmentsOf(r, r.videoSources[0].trackID);
    const QString movie = take.moviePath();
    EXPECT_EQ(segments,
              (std::vector<CompositionSegment>{
                  {movie, 0, 0, 300, 0}, {movie, 0, 450, 150, 450}, {movie, 0, 1200, 600, 600}}));
    EXPECT_EQ(r.composition.duration(), 1200);
    const auto audio = r.composition.tracks(CompositionTrack::Kind::audio);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0]->segments, (std::vector<CompositionSegment>{{mixPath, 0, 0, 1200, 0}}));
    ASSERT_TRUE(r.videoComposition); // its size: the exporter's tests
    EXPECT_EQ(r.placements.size(), 1u);
}

// A played length that is not a whole number of ticks: the mix's sound reaches to its last
// sample, rounded up to the tick it falls in.
TEST_F(TakeComposerBuild, TheMixIsLaidDownToItsLastSample) {
    const SpanList spans{{0.0101, 1}};
    const qint64 frames = framesRounded(spans[0].end - spans[0].start); // not a whole tick
    ASSERT_NE(frames % framesPerTick, 0);
    const QString mixPath = dir.filePath("mix.caf");
    writeAudioFile(mixPath,
                   {std::vector<float>(size_t(frames), 0.1f), std::vector<float>(size_t(frames))},
                   48000);
    const Result r = build(take, spans, mixPath, {}, false);
    const auto audio = r.composition.tracks(CompositionTrack::Kind::audio);
    ASSERT_EQ(audio.size(), 1u);
    ASSERT_EQ(audio[0]->segments.size(), 1u);
    EXPECT_GE(ticksToFrames(audio[0]->segments[0].duration), frames);
    EXPECT_LE(audio[0]->segments[0].duration, r.composition.duration());
}

TEST_F(TakeComposerBuild, OverdubsArePlacedAtStartPlusNudge) {
    const Overdub o = addOverdub(1.5, -0.5, 60); // plays 1 … 3 s on the take
    const SpanList spans{{0, 0.5}, {0.75, 2.5}};
    const Result r = build(take, spans, std::nullopt, settingsWith(Layout::split), true);
    ASSERT_EQ(r.videoSources.size(), 2u);
    EXPECT_EQ(r.videoSources[1].lane, Lane::overdubVideo(o.id));
    // The first span lies before the overdub: its track is empty there.
    const auto segments = segmentsOf(r, r.videoSources[1].trackID);
    ASSERT_EQ(segments.size(), 1u);
    EXPECT_EQ(segments[0].sourceStart, 0);
    EXPECT_EQ(segments[0].start, 300 + 150); // 0.5 s of the first span + (1.0 − 0.75) s
    EXPECT_EQ(segments[0].duration, 900);
    EXPECT_EQ(r.placements.size(), 2u);

    const Result withoutOverdubs = build(take, spans, std::nullopt, {}, false);
    EXPECT_EQ(withoutOverdubs.videoSources.size(), 1u);
}

TEST_F(TakeComposerBuild, NoVideoToDraw) {
    take.info.mainRemoved = true;
    Result r = build(take, {{0, 1}}, std::nullopt, {}, true);
    EXPECT_FALSE(r.videoComposition);
    EXPECT_TRUE(r.videoSources.empty());
    EXPECT_EQ(r.renderSize, hd);
    r = build(take, {{0, 1}}, std::nullopt, settingsWith(Layout::split, Aspect::square), true);
    EXPECT_EQ(r.renderSize, (SizeD{1080, 1080}));

    // The main video not shown, main only: a composition without layers, drawn black.
    take.info.mainRemoved = false;
    take.info.showMainVideo = false;
    r = build(take, {{0, 1}}, std::nullopt, settingsWith(Layout::main), false);
    ASSERT_TRUE(r.videoComposition);
    EXPECT_TRUE(r.videoComposition->layers.empty());
    EXPECT_EQ(r.videoSources.size(), 1u);

    // Hidden everywhere: the empty layer is dropped.
    take.info.edit.hidden[Lane::mainVideo().key()] = {{0, 3}};
    r = build(take, {{0, 1}}, std::nullopt, {}, false);
    EXPECT_TRUE(r.videoSources.empty());
    EXPECT_TRUE(r.composition.tracks().empty());
}
