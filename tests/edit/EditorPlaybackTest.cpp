#include "EditorModelFixture.h"

#include "edit/EditOperations.h"
#include "edit/SelectionOperations.h"
#include "support/MediaFixtures.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

using namespace reelbox;
namespace fixtures = reelbox::testing;

namespace {

constexpr double frame = 1.0 / 30;

class EditorPlaybackTest : public test::EditorModelFixture {
protected:
    static void waitForSeeks(TakeEditorModel& model) {
        ASSERT_TRUE(test::waitFor([&] { return !model.isSeeking(); }));
    }

    // Waits until the paused player has drawn its picture at the current time.
    static QImage shownPicture(TakeEditorModel& model) {
        waitForSeeks(model);
        EXPECT_TRUE(test::waitFor([&] { return !model.player()->lastFrame().isNull(); }));
        return model.player()->lastFrame();
    }
};

} // namespace

// Steps are whole frames of the output, and a cut under the playhead keeps its source time.
// Played to the end, play starts again from the first kept span.
TEST_F(EditorPlaybackTest, StepsCutsAndTheEndMoveThePlayheadInSourceTime) {
    auto model = open(makeTake());
    for (double t : {1.0, 1.6}) { // 1.0 … 1.6 cut out of the timeline
        model->seek(t);
        model->apply(splitAtPlayhead(model->editingState()));
    }
    model->setSelection(selectTimeline(model->editingState(), 1.3));
    model->apply(removeSelected(model->editingState()));
    model->seek(0.5);
    settle(*model);
    waitForSeeks(*model);
    model->player()->step(1);
    EXPECT_NEAR(model->player()->currentTime(), 0.5 + frame, 1e-9);
    EXPECT_NEAR(model->playhead(), 0.5 + frame, 1e-9);
    model->player()->step(-2);
    EXPECT_NEAR(model->playhead(), 0.5 - frame, 1e-9);

    model->seek(1.2);
    waitForSeeks(*model);
    EXPECT_DOUBLE_EQ(model->playhead(), 1.2);
    EXPECT_NEAR(model->outputTime(), 1.0, 1e-9);
    EXPECT_NEAR(model->player()->currentTime(), 1.0, 1e-9);
    // Moving on from there goes through the next span's source time.
    model->player()->step(1);
    EXPECT_NEAR(model->playhead(), 1.6 + frame, 1e-9);

    model->seek(0.5);
    model->apply(setInPoint(model->editingState()));
    settle(*model);
    model->seek(model->sourceDuration() - 0.3);
    waitForSeeks(*model);
    EXPECT_FALSE(model->atEnd());
    model->play();
    ASSERT_TRUE(test::waitFor([&] { return !model->isPlaying(); }, 5000));
    EXPECT_TRUE(model->atEnd());
    EXPECT_NEAR(model->playhead(), model->sourceDuration(), 0.05);
    model->jumpToStart(); // what the play button does at the end
    waitForSeeks(*model);
    EXPECT_DOUBLE_EQ(model->playhead(), 0.5);
    EXPECT_NEAR(model->outputTime(), 0, 1e-9);
    EXPECT_FALSE(model->atEnd());
}

TEST_F(EditorPlaybackTest, ScrubbingSendsOneSeekAtATimeAndEndsOnTheLastPosition) {
    auto model = open(makeTake());
    waitForSeeks(*model);
    int seeksReceived = 0;
    QObject::connect(model->player(), &Player::timeChanged, [&] { ++seeksReceived; });
    double last = 0;
    for (int i = 0; i < 40; ++i) {
        last = 0.013 + 0.07 * i;
        model->seek(last);
        EXPECT_DOUBLE_EQ(model->playhead(), last);
    }
    waitForSeeks(*model);
    // The first position went out at once, the last one after it; the others were passed over.
    EXPECT_EQ(seeksReceived, 2);
    EXPECT_DOUBLE_EQ(model->playhead(), last);
    EXPECT_NEAR(model->player()->currentTime(), last, 1e-9);
}

// A mirror change redraws the paused picture and the frames drawn next while playing.
TEST_F(EditorPlaybackTest, APictureChangeRedrawsPausedAndPlaying) {
    auto model = open(makeTake());
    const auto mirrored = [](const QImage& after, const QImage& before) {
        return fixtures::meanDifference(after, before.mirrored(true, false)) <
               fixtures::meanDifference(after, before) / 4;
    };
    model->seek(0.4);
    const QImage paused = shownPicture(*model);
    changeExportSettings(*model, [](auto& s) { s.mirror = !s.mirror; });
    ASSERT_TRUE(test::waitFor([&] { return model->player()->lastFrame() != paused; }, 5000));
    EXPECT_TRUE(mirrored(model->player()->lastFrame(), paused));

    std::vector<QImage> frames;
    QObject::connect(model->player(), &Player::framePresented,
                     [&](const QImage& image) { frames.push_back(image); });
    model->play();
    ASSERT_TRUE(test::waitFor([&] { return frames.size() >= 3; }, 5000));
    const QImage playing = frames.back();
    const size_t shown = frames.size();
    changeExportSettings(*model, [](auto& s) { s.mirror = !s.mirror; });
    // Pictures drawn ahead before the change may still come; a few frames on, all are mirrored.
    ASSERT_TRUE(test::waitFor([&] { return frames.size() >= shown + 6; }, 5000));
    model->pause();
    EXPECT_TRUE(mirrored(frames.back(), playing));
}

TEST_F(EditorPlaybackTest, WithoutVideoAPictureChangeRebuildsTheComposition) {
    auto model = open(makeTake(1, true));
    model->deleteRecording(Group::take());
    settle(*model);
    ASSERT_FALSE(model->player()->hasVideo());
    const int runs = model->counters().runs;
    changeExportSettings(*model, [](auto& s) { s.mirror = !s.mirror; });
    settle(*model);
    EXPECT_EQ(model->counters().runs, runs + 1);
    EXPECT_EQ(model->counters().lastStage, TakeEditorModel::Stage::compose);
    EXPECT_EQ(model->player()->status(), Player::Status::ready);
}

TEST_F(EditorPlaybackTest, TheFreezeFrameCoversTheNewPreviewUntilItDraws) {
    const Take take = makeTake();
    auto model = open(take);
    model->seek(1.4);
    const QImage shown = shownPicture(*model);
    std::vector<std::optional<QImage>> freezes;
    QObject::connect(model.get(), &TakeEditorModel::freezeFrameChanged,
                     [&] { freezes.push_back(model->freezeFrame()); });
    model->updateTrack(take.info.tracks[0].id, [](Track& t) { t.volumeDB = -3; });
    settle(*model);
    ASSERT_TRUE(test::waitFor([&] { return !model->freezeFrame(); }, 3000));
    ASSERT_EQ(freezes.size(), 2u);
    EXPECT_EQ(freezes[0], std::optional(shown));
    EXPECT_FALSE(freezes[1]);
    EXPECT_DOUBLE_EQ(model->playhead(), 1.4);
}

TEST_F(EditorPlaybackTest, APreviewWhoseSoundIsGoneFails) {
    const Take take = makeTake();
    const auto stems = TakePipeline::extractStems(take, TakePipeline::cacheFolder(take), {});
    const SpanList spans = take.info.edit.keptSpans(take.info.duration);
    const QString mix = home.filePath("mix.caf");
    ASSERT_TRUE(TakePipeline::mix(take, stems, spans, mix));
    const TakeComposer::Result result =
        TakeComposer::build(take, spans, mix, take.info.exportSettings, true);
    QFile::remove(mix);
    Player player(sound.get(), testOutputId());
    player.load(result, std::make_shared<LiveLayout>());
    ASSERT_TRUE(test::waitFor([&] { return player.status() != Player::Status::loading; }));
    EXPECT_EQ(player.status(), Player::Status::failed);
    EXPECT_TRUE(player.errorString().contains("mix.caf")) << player.errorString().toStdString();
    player.play();
    EXPECT_FALSE(player.isPlaying());
}

// Play pressed while a preview loads counts as playing and starts it once ready; a render and
// an export while playing finish, and playing goes on. (How long the main thread is held
// meanwhile is measured by bench-editor.) The event loop blocks, as the application's does.
TEST_F(EditorPlaybackTest, PlayingGoesOnThroughLoadsRendersAndExports) {
    const auto loopUntil = [](const std::function<bool()>& done) {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (done())
                loop.quit();
        });
        poll.start(5);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
    };
    const Take take = makeTake(1, false, 8);
    auto model = open(take);
    bool pressed = false;
    QObject::connect(model->player(), &Player::statusChanged, [&](Player::Status status) {
        if (status == Player::Status::loading && !pressed) {
            pressed = true;
            model->play();
            EXPECT_TRUE(model->isPlaying());
        }
    });
    model->invalidate(TakeEditorModel::Stage::process, false);
    loopUntil([&] { return model->player()->isPlaying(); });
    ASSERT_TRUE(pressed);
    model->updateTrack(take.info.tracks[0].id, [](Track& t) { t.effects.eqEnabled = true; });
    loopUntil([&] { return model->isIdle(); });
    const double rendered = model->playhead();
    std::optional<bool> exported;
    model->exportTo(home.filePath("out.mp4"), [&](bool ok) { exported = ok; });
    loopUntil([&] { return exported.has_value(); });
    model->pause();
    EXPECT_TRUE(exported.value_or(false));
    EXPECT_GT(model->playhead(), rendered);
}
