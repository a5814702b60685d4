#include "EditorModelFixture.h"
#include "edit/EditOperations.h"
#include "edit/SelectionOperations.h"
#include "edit/UndoStackAdapter.h"
#include "model/UserSettings.h"
#include "platform/Cancellation.h"
#include "platform/media/MovieInfo.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <thread>

using namespace reelbox;
using Stage = TakeEditorModel::Stage;
using TakeEditorModelTest = test::EditorModelFixture;

// Mix and monitor files have one owner, the model that made them: those an earlier opening
// left go; closing during a monitor mix leaves no file; a mix whose cancellation came after
// it was written goes too.
TEST_F(TakeEditorModelTest, OpeningAndABurstOfEditsMixOnceAndLeaveOneMixFile) {
    const Take take = makeTake(0, false, 12);
    const QDir cache = this->cache(take);
    for (const char* name : {"mix-OLD.caf", "monitor-OLD.caf", "other.caf"})
        test::writeFile(cache.filePath(name), "old");
    auto model = open(take);
    const auto& c = model->counters();
    EXPECT_EQ(c.runs, 1);
    EXPECT_EQ(c.completed, 1);
    EXPECT_EQ(c.lastStage, Stage::stems);
    ASSERT_TRUE(model->processedAudio());
    EXPECT_EQ(model->waveforms().size(), take.info.tracks.size());
    EXPECT_EQ(model->player()->status(), Player::Status::ready);
    EXPECT_EQ(model->playerSpans(), take.info.edit.keptSpans(model->sourceDuration()));
    EXPECT_FALSE(model->isRendering());
    EXPECT_FALSE(model->errorMessage());
    EXPECT_NEAR(model->mainDuration(), 12, 0.05);
    EXPECT_TRUE(test::waitFor([&] { return !model->filmstrip().empty(); }));

    const QUuid id = take.info.tracks[0].id;
    const int savesBefore = c.saves;
    model->updateTrack(id, [](Track& t) { t.volumeDB = -3; });
    test::runEvents(100);
    model->updateTrack(id, [](Track& t) { t.volumeDB = -6; });
    test::runEvents(300);
    EXPECT_EQ(c.saves, savesBefore) << "saved before the quiet period";
    settle(*model);
    EXPECT_EQ(c.runs, 2);
    EXPECT_EQ(c.lastStage, Stage::process);
    EXPECT_EQ(c.saves, savesBefore + 1);
    EXPECT_EQ(saved(model->take()).tracks[0].volumeDB, -6);
    // The replaced mix is gone once the new preview is loaded.
    EXPECT_EQ(mixFiles(take), QStringList{QFileInfo(*model->processedAudio()).fileName()});
    EXPECT_FALSE(cache.exists("monitor-OLD.caf"));
    EXPECT_TRUE(cache.exists("other.caf"));

    model->monitorComposition([](auto, QString) {});
    model.reset(); // waits for its workers
    EXPECT_TRUE(cache.entryList({"monitor-*"}, QDir::Files).isEmpty());

    // A stop that comes at any point of a mix, also after its file is written, leaves no file:
    // stops spread over the length of a whole mix.
    const auto stems = TakePipeline::extractStems(take, cache.path(), {});
    QElapsedTimer clock;
    clock.start();
    TakePipeline::mix(take, stems, {{0, 12}}, cache.filePath("whole.caf"));
    const qint64 wholeUs = clock.nsecsElapsed() / 1000;
    for (int i = 0; i < 24; ++i) {
        const QString path = cache.filePath(QStringLiteral("stopped-%1.caf").arg(i));
        std::stop_source stop;
        bool cancelled = false;
        std::thread worker([&] {
            try {
                TakePipeline::mix(take, stems, {{0, 12}}, path, stop.get_token());
            } catch (const Cancelled&) {
                cancelled = true;
            }
        });
        std::this_thread::sleep_for(std::chrono::microseconds(wholeUs * (i + 4) / 24));
        stop.request_stop();
        worker.join();
        if (cancelled) {
            EXPECT_FALSE(QFileInfo::exists(path)) << "stopped after " << i;
        }
    }
}

TEST_F(TakeEditorModelTest, WhatEachSetterSavesAndRebuilds) {
    Take take = makeTake(1);
    take.info.overdubs[0].audioDeviceID = QStringLiteral("usb-mic");
    library->save(take);
    auto model = open(take);
    struct Case {
        const char* name;
        std::function<void(TakeEditorModel&)> change;
        int runs;                   // pipeline runs it causes
        std::optional<Stage> stage; // the stage they start from
        bool savedAtOnce;
    };
    const QUuid overdub = take.info.overdubs[0].id;
    const std::vector<Case> cases{
        {"format only",
         [](TakeEditorModel& m) {
             changeExportSettings(m, [](auto& s) { s.format = ExportSettings::Format::hevc; });
         },
         0, std::nullopt, true},
        {"rename", [&](TakeEditorModel& m) { m.renameTrack(take.info.tracks[0].id, "Voice"); }, 0,
         std::nullopt, false},
        {"layout (picture only)",
         [](TakeEditorModel& m) {
             changeExportSettings(m, [](auto& s) { s.layout = ExportSettings::VideoLayout::pip; });
         },
         0, std::nullopt, true},
        {"overdub shown (picture only)",
         [&](TakeEditorModel& m) { m.setVideoShown(Group::overdub(overdub), false); }, 0,
         std::nullopt, false},
        {"nudge",
         [&](TakeEditorModel& m) { m.updateOverdub(overdub, [](Overdub& o) { o.nudge = 0.25; }); },
         1, Stage::stems, false},
        {"overdub start",
         [&](TakeEditorModel& m) { m.updateOverdub(overdub, [](Overdub& o) { o.start = 0.5; }); },
         1, Stage::stems, false},
        {"master",
         [](TakeEditorModel& m) {
             m.setMaster({3, true});
         },
         1, Stage::process, false},
        {"delete track", [&](TakeEditorModel& m) { m.deleteTrack(take.info.tracks[1].id); }, 1,
         Stage::process, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = model->counters();
        const auto mixBefore = model->processedAudio();
        c.change(*model);
        EXPECT_EQ(model->counters().saves - before.saves, c.savedAtOnce ? 1 : 0);
        settle(*model);
        EXPECT_EQ(model->counters().runs - before.runs, c.runs);
        if (c.stage) { // a run from the stems or the mix is heard in a new mix
            EXPECT_EQ(model->counters().lastStage, c.stage);
            EXPECT_NE(model->processedAudio(), mixBefore);
        }
        EXPECT_EQ(model->counters().saves - before.saves, 1);
        EXPECT_EQ(saved(model->take()), model->take().info);
    }
    // The nudge is remembered for the overdub's microphone, as the overdub model reads it for
    // its next recording; the move after it is no nudge.
    EXPECT_DOUBLE_EQ(UserSettings::overdubNudge(QStringLiteral("usb-mic")), 0.25);
    const double end = 0.5 + 0.25 + take.info.overdubs[0].duration;
    EXPECT_DOUBLE_EQ(model->sourceDuration(), std::max(model->mainDuration(), end));
}

TEST_F(TakeEditorModelTest, WithNothingToMixThePreviewIsSilent) {
    struct Case {
        const char* name;
        int channels;
        bool tracksBeyondTheStems;
        bool everySpanRemoved;
    };
    for (const Case& c : {Case{"recorded without a microphone", 0, false, false},
                          Case{"tracks beyond the stems", 2, true, false},
                          Case{"every span removed", 2, false, true}}) {
        SCOPED_TRACE(c.name);
        Take take = makeTake(0, false, 2, c.channels);
        for (Track& t : take.info.tracks)
            t.source.channel = c.tracksBeyondTheStems ? 9 : t.source.channel;
        library->save(take);
        auto model = open(take);
        if (c.everySpanRemoved) {
            model->setSelection(selectTimeline(model->editingState(), 1));
            model->apply(removeSelected(model->editingState()));
            settle(*model);
        }
        EXPECT_FALSE(model->errorMessage()) << model->errorMessage()->toStdString();
        EXPECT_FALSE(model->processedAudio());
        EXPECT_TRUE(mixFiles(take).isEmpty());
        EXPECT_TRUE(model->waveforms().empty() || c.everySpanRemoved);
        EXPECT_EQ(model->player()->status(), Player::Status::ready);
        EXPECT_EQ(model->playerSpans().empty(), c.everySpanRemoved);
        EXPECT_NEAR(model->player()->duration(), c.everySpanRemoved ? 0 : 2, 0.05);
        if (!c.everySpanRemoved) {
            const QString out = home.filePath(QStringLiteral("%1.mp4").arg(c.channels));
            std::optional<bool> exported;
            model->exportTo(out, [&](bool ok) { exported = ok; });
            ASSERT_TRUE(test::waitFor([&] { return exported.has_value(); }, 60000));
            EXPECT_TRUE(*exported) << model->errorMessage().value_or("").toStdString();
            EXPECT_EQ(probeMovie(out).video.size(), 1u);
        }
    }
}

TEST_F(TakeEditorModelTest, FailuresAreReportedAndAFailedRenderKeepsThePreview) {
    const Take take = makeTake(1);
    auto model = open(take);
    const auto spans = model->playerSpans();
    // The overdub's movie disappears; extracting it again fails.
    QFile::remove(QDir(take.overdubsFolder()).filePath(take.info.overdubs[0].fileName));
    for (const QString& stem : cache(take).entryList({"*.caf"}))
        QFile::remove(cache(take).filePath(stem));
    Overdub added = take.info.overdubs[0];
    added.id = QUuid::createUuid();
    model->addOverdub(added, {});
    settle(*model);
    EXPECT_TRUE(model->errorMessage());
    EXPECT_EQ(model->counters().failed, 1);
    EXPECT_EQ(model->dirty(), Stage::stems);
    EXPECT_FALSE(model->isRendering());
    EXPECT_EQ(model->playerSpans(), spans);
    EXPECT_EQ(model->player()->status(), Player::Status::ready);

    // A save that fails is reported, not dropped.
    model->setErrorMessage(std::nullopt);
    ASSERT_TRUE(QDir(take.folder).removeRecursively());
    model->renameTrack(take.info.tracks[0].id, "Voice");
    model->save();
    EXPECT_TRUE(model->errorMessage().value_or("").startsWith("Couldn't save the take: "))
        << model->errorMessage().value_or("").toStdString();
    model->tearDown();
}

TEST_F(TakeEditorModelTest, DeletingRecordings) {
    // The only track of an audio-only overdub takes the overdub with it.
    const Take take = makeTake(1, true);
    auto model = open(take);
    const Overdub overdub = take.info.overdubs[0];
    const QString overdubFile = QDir(take.overdubsFolder()).filePath(overdub.fileName);
    const auto& tracks = model->take().info.tracks;
    const auto sound = std::find_if(tracks.begin(), tracks.end(),
                                    [&](const Track& t) { return t.source.isOverdub(overdub.id); });
    ASSERT_NE(sound, tracks.end());
    model->deleteTrack(QUuid(sound->id)); // a copy: the track goes
    EXPECT_TRUE(model->take().info.overdubs.empty());
    EXPECT_FALSE(QFileInfo::exists(overdubFile));
    settle(*model);

    // The main recording of a take with overdubs: inputs and picture go, the overdubs stay.
    const Take second = makeTake(1);
    auto editor = open(second);
    editor->deleteRecording(Group::take());
    EXPECT_TRUE(editor->take().info.mainRemoved);
    for (const Track& t : editor->take().info.tracks)
        EXPECT_FALSE(t.source.isInput());
    EXPECT_FALSE(QFileInfo::exists(second.moviePath()));
    const Overdub& kept = second.info.overdubs[0];
    EXPECT_DOUBLE_EQ(editor->sourceDuration(), kept.placedStart() + kept.duration);
    settle(*editor);
    EXPECT_FALSE(editor->errorMessage());

    // A take without overdubs goes to the Trash whole.
    const Take third = makeTake();
    auto last = open(third);
    last->deleteRecording(Group::take());
    EXPECT_FALSE(QFileInfo::exists(third.folder));
}

// An edit during an export replaces the preview's mix, not the export's, which goes after.
TEST_F(TakeEditorModelTest, ExportsWaitForThePipelineRunOneAtATimeAndKeepTheirMix) {
    auto model = open(makeTake(0, false, 6, 2, QSize(640, 360)));
    model->seek(1);
    model->apply(setInPoint(model->editingState()));
    // The in point is still being mixed when the export asks.
    std::optional<bool> first, second;
    model->exportTo(home.filePath("a.mp4"), [&](bool ok) { first = ok; });
    model->exportTo(home.filePath("b.mp4"), [&](bool ok) { second = ok; });
    EXPECT_EQ(second, false);
    settle(*model);
    const QString used = model->processedAudio().value_or("");
    model->seek(4);
    model->apply(setOutPoint(model->editingState()));
    ASSERT_TRUE(test::waitFor(
        [&] { return (model->processedAudio() != used && model->isIdle()) || first; }));
    if (!first) { // the new preview is in while the export runs
        EXPECT_TRUE(QFileInfo::exists(used));
    }
    ASSERT_TRUE(test::waitFor([&] { return first.has_value(); }, 60000));
    EXPECT_TRUE(*first) << model->errorMessage().value_or("").toStdString();
    EXPECT_FALSE(model->exportProgress());
    settle(*model);
    EXPECT_FALSE(QFileInfo::exists(used)); // and it goes once the export is done
    // The export holds the edit as it was when asked: the first second is trimmed, no more.
    EXPECT_NEAR(probeMovie(home.filePath("a.mp4")).durationSeconds, model->sourceDuration() - 1,
                0.05);
}

// An edge drag previews without saving, rerunning or registering; the release commits once,
// and its undo goes back to the edit from before the drag, not to the last preview.
TEST_F(TakeEditorModelTest, EditsAndDraggedTrimsAreSavedRerunAndUndoable) {
    const Take take = makeTake();
    auto model = open(take);
    QUndoStack stack;
    UndoStackAdapter undo(&stack);
    model->setUndoRegistry(&undo);
    // A rename from the take list while the take is open is kept by the edit's save.
    int changes = 0;
    QObject::connect(model.get(), &TakeEditorModel::takeChanged, [&] { ++changes; });
    library->rename(library->takes().front(), QStringLiteral("Renamed in the list"));
    EXPECT_EQ(changes, 1);
    library->rename(makeTake(), QStringLiteral("Other")); // another take's: not this one's
    EXPECT_EQ(model->take().info.name, QStringLiteral("Renamed in the list"));
    const int runs = model->counters().runs;
    model->seek(1.5);
    model->apply(splitAtPlayhead(model->editingState()));
    const EditState split = model->take().info.edit;
    EXPECT_EQ(saved(model->take()).edit.splits, (std::vector<double>{1.5}));
    EXPECT_EQ(saved(take).name, QStringLiteral("Renamed in the list"));
    settle(*model);
    EXPECT_EQ(model->counters().runs, runs + 1);
    EXPECT_EQ(model->counters().lastStage, Stage::process);
    EXPECT_DOUBLE_EQ(model->playhead(), 1.5);
    EXPECT_EQ(stack.undoText(), actions::split);

    const int saves = model->counters().saves;
    EditState preview;
    for (const double t : {0.4, 0.9, 1.2}) {
        preview = dragInEdge(split, t, model->sourceDuration());
        model->previewEdit(preview);
        EXPECT_DOUBLE_EQ(model->take().info.edit.inPoint, t);
    }
    EXPECT_EQ(model->counters().saves, saves);
    EXPECT_FALSE(model->dirty().has_value());
    EXPECT_EQ(stack.count(), 1);
    EXPECT_EQ(saved(model->take()).edit, split);
    model->commitEdit(preview, split, actions::trimStart);
    EXPECT_EQ(model->counters().saves, saves + 1);
    EXPECT_EQ(saved(model->take()).edit, preview);
    ASSERT_EQ(stack.count(), 2);
    EXPECT_EQ(stack.undoText(), actions::trimStart);
    settle(*model);
    EXPECT_EQ(model->counters().runs, runs + 2);

    stack.undo();
    EXPECT_EQ(model->take().info.edit, split);
    EXPECT_EQ(saved(model->take()).edit, split);
    stack.undo();
    EXPECT_TRUE(saved(model->take()).edit.splits.empty());
    stack.redo();
    stack.redo();
    EXPECT_EQ(saved(model->take()).edit, preview);
    EXPECT_EQ(stack.count(), 2); // undo and redo push nothing
    settle(*model);
    // Undo and redo at once: each replaces the run before it before it starts.
    EXPECT_EQ(model->counters().runs, runs + 3);
    // A redone edit undoes again; once the model is gone, undo and redo do nothing.
    stack.undo();
    EXPECT_EQ(saved(model->take()).edit, split);
    model.reset();
    stack.undo();
    stack.redo();
    EXPECT_EQ(saved(take).edit, split);
}

// Picture changes while a run works neither restart it nor vanish: what a run loads shows the
// picture settings as they are when it ends. A mixer edit cancels it silently and restarts
// from the earliest stage.
TEST_F(TakeEditorModelTest, ChangesDuringARun) {
    auto model = start(makeTake(1, false, 12));
    ASSERT_TRUE(test::waitFor([&] { return model->isRendering(); }));
    for (int i = 0; i < 20; ++i)
        changeExportSettings(*model, [](auto& s) { s.mirror = !s.mirror; });
    model->setMaster({-2, false});
    settle(*model);
    EXPECT_FALSE(model->errorMessage());
    EXPECT_EQ(model->counters().completed, 1);
    EXPECT_EQ(model->counters().cancelled, 1); // by the mixer edit alone
    EXPECT_EQ(model->counters().lastStage, Stage::stems);
    EXPECT_EQ(model->normalizeGainDB(), 0.0); // the new master was mixed

    for (const auto aspect : {ExportSettings::Aspect::square, ExportSettings::Aspect::portrait}) {
        model->invalidate(Stage::process, false);
        ASSERT_TRUE(test::waitFor([&] { return model->isRendering(); }));
        changeExportSettings(*model, [aspect](auto& s) { s.aspect = aspect; });
        settle(*model);
        const SizeD size = model->renderSize();
        if (aspect == ExportSettings::Aspect::square)
            EXPECT_EQ(size.width, size.height);
        else
            EXPECT_LT(size.width, size.height);
    }
}
