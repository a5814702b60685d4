#include "edit/TakeEditorModel.h"

#include "audio/Filmstrip.h"
#include "compose/TakeExporter.h"
#include "edit/EditOperations.h"
#include "model/TakeLibrary.h"
#include "model/UserSettings.h"
#include "platform/AssignAndNotify.h"
#include "platform/Background.h"
#include "platform/Cancellation.h"
#include "platform/Trash.h"
#include "platform/media/MovieInfo.h"

#include <QDir>
#include <QFile>
#include <QPointer>

namespace reelbox {

namespace {
constexpr int saveWaitMs = 400;
} // namespace

TakeEditorModel::TakeEditorModel(Take take, TakeLibrary* library, SoundSystem& sound,
                                 const QString& outputId, QObject* parent)
    : QObject(parent), m_take(std::move(take)), m_library(library),
      m_sourceDuration(m_take.info.timelineDuration()), m_mainDuration(m_take.info.duration),
      m_committer([this](const EditState& edit) {
          Take changed = m_take;
          changed.info.edit = edit;
          commitChange(EditorChange::edit, changed);
      }),
      m_pipeline(m_counters,
                 {.input =
                      [this] {
                          EditorPipeline::Input input{m_take, keptSpans(), {}};
                          for (const auto& [id, strip] : m_overdubFilmstrips)
                              input.stripsKnown.insert(id);
                          return input;
                      },
                  .stemsRead =
                      [this](const TakePipeline::StemsResult& stems) {
                          assignAndNotify(this, m_waveforms, stems.waveforms,
                                          &TakeEditorModel::waveformsChanged);
                          auto strips = m_overdubFilmstrips;
                          for (const auto& [id, strip] : stems.overdubStrips)
                              strips[id] = strip;
                          assignAndNotify(this, m_overdubFilmstrips, strips,
                                          &TakeEditorModel::overdubFilmstripsChanged);
                      },
                  .renderingChanged = [this](bool rendering) { setIsRendering(rendering); },
                  .normalizeGainChanged =
                      [this](double gainDB) {
                          assignAndNotify(this, m_normalizeGainDB, std::optional(gainDB),
                                          &TakeEditorModel::normalizeGainDBChanged);
                      },
                  .error = [this](const QString& message) { setErrorMessage(message); },
                  .load =
                      [this](const TakeComposer::Result& result, const SpanList& spans,
                             Player::MixInMemory inMemory) {
                          m_playback.load(result, spans, std::move(inMemory));
                      },
                  .settled = [this] { notifyIfIdle(); }}),
      m_playback(sound, outputId,
                 {.take = [this]() -> const Take& { return m_take; },
                  .sourceDuration = [this] { return m_sourceDuration; },
                  .rebuildPicture =
                      [this] {
                          // A run under way or owed loads the picture as it is then.
                          if (!m_pipeline.isPending())
                              invalidate(Stage::compose, false);
                      },
                  .failed = [this](const QString& message) { setErrorMessage(message); }}) {
    m_exportPool.setMaxThreadCount(1);
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(saveWaitMs);
    m_saveTimer.setTimerType(Qt::PreciseTimer); // 400 ms, not anywhere from 380 to 420
    connect(&m_saveTimer, &QTimer::timeout, this, &TakeEditorModel::save);

    // The preview's state is the model's.
    connect(&m_playback, &EditorPlayback::isPlayingChanged, this,
            &TakeEditorModel::isPlayingChanged);
    connect(&m_playback, &EditorPlayback::playheadChanged, this, &TakeEditorModel::playheadChanged);
    connect(&m_playback, &EditorPlayback::playerSpansChanged, this,
            &TakeEditorModel::playerSpansChanged);
    connect(&m_playback, &EditorPlayback::renderSizeChanged, this,
            &TakeEditorModel::renderSizeChanged);
    connect(&m_playback, &EditorPlayback::placementsChanged, this,
            &TakeEditorModel::placementsChanged);
    connect(&m_playback, &EditorPlayback::canvasSourceChanged, this,
            &TakeEditorModel::canvasSourceChanged);
    connect(&m_playback, &EditorPlayback::freezeFrameChanged, this,
            &TakeEditorModel::freezeFrameChanged);

    // A rename from the take list reaches the open copy, so the next save keeps it.
    if (m_library)
        connect(m_library, &TakeLibrary::takesChanged, this, &TakeEditorModel::adoptLibraryName);

    m_pipeline.removeOldMixes(m_take); // queued first on the pipeline's worker
    invalidate(Stage::stems, false);
    readSourceInfo();
}

TakeEditorModel::~TakeEditorModel() {
    tearDown();
    // Workers may still finish; their results find the model gone.
    m_pipeline.pool().waitForDone();
    m_exportPool.waitForDone();
}

// ---- state ---------------------------------------------------------------------------------

bool TakeEditorModel::isIdle() const {
    return m_pipeline.isIdle() && !m_saveTimer.isActive();
}

void TakeEditorModel::setTake(const Take& take) {
    assignAndNotify(this, m_take, take, &TakeEditorModel::takeChanged);
}

void TakeEditorModel::adoptLibraryName() {
    for (const Take& listed : m_library->takes())
        if (listed.folder == m_take.folder) {
            if (listed.info.name != m_take.info.name) {
                Take renamed = m_take;
                renamed.info.name = listed.info.name;
                setTake(renamed);
            }
            return;
        }
}

void TakeEditorModel::setSelection(const std::optional<Selection>& selection) {
    assignAndNotify(this, m_selection, selection, &TakeEditorModel::selectionChanged);
}

void TakeEditorModel::setErrorMessage(const std::optional<QString>& message) {
    assignAndNotify(this, m_errorMessage, message, &TakeEditorModel::errorMessageChanged);
}

void TakeEditorModel::setOverdubbing(bool overdubbing) {
    assignAndNotify(this, m_isOverdubbing, overdubbing, &TakeEditorModel::isOverdubbingChanged);
}

void TakeEditorModel::setIsRendering(bool rendering) {
    assignAndNotify(this, m_isRendering, rendering, &TakeEditorModel::isRenderingChanged);
}

void TakeEditorModel::setExportProgress(std::optional<double> progress) {
    assignAndNotify(this, m_exportProgress, progress, &TakeEditorModel::exportProgressChanged);
}

void TakeEditorModel::updateTimelineDuration() {
    double duration = m_take.info.mainRemoved ? 0 : m_mainDuration;
    for (const Overdub& o : m_take.info.overdubs)
        duration = std::max(duration, o.placedStart() + o.duration);
    assignAndNotify(this, m_sourceDuration, duration, &TakeEditorModel::sourceDurationChanged);
}

void TakeEditorModel::readSourceInfo() {
    if (m_take.info.mainRemoved) {
        assignAndNotify(this, m_mainDuration, 0.0, &TakeEditorModel::mainDurationChanged);
        updateTimelineDuration();
        return;
    }
    struct Source {
        std::optional<double> videoEnd;
        std::vector<QImage> filmstrip;
    };
    runInBackground(
        &m_pipeline.pool(), this,
        [movie = m_take.moviePath()] {
            Source source;
            try {
                const MovieInfo info = probeMovie(movie);
                if (!info.video.empty())
                    source.videoEnd =
                        info.video.front().startSeconds + info.video.front().durationSeconds;
            } catch (const Error&) {
                // the lengths stay as they are
            }
            try {
                source.filmstrip = Filmstrip::frames(movie, 24, 48);
            } catch (const Cancelled&) {
            }
            return source;
        },
        [this](Source source) {
            if (source.videoEnd) {
                assignAndNotify(this, m_mainDuration, *source.videoEnd,
                                &TakeEditorModel::mainDurationChanged);
                updateTimelineDuration();
            }
            assignAndNotify(this, m_filmstrip, source.filmstrip,
                            &TakeEditorModel::filmstripChanged);
        });
}

SpanList TakeEditorModel::keptSpans() const {
    return m_take.info.edit.keptSpans(m_sourceDuration);
}

// ---- pipeline ------------------------------------------------------------------------------

void TakeEditorModel::invalidate(Stage stage, bool delay) {
    if (!m_tornDown)
        m_pipeline.invalidate(stage, delay);
}

void TakeEditorModel::notifyIfIdle() {
    if (m_pipeline.isPending())
        return;
    m_pipeline.runWhenIdle();
    if (isIdle())
        emit idle();
}

// ---- saving --------------------------------------------------------------------------------

void TakeEditorModel::saveNow() {
    if (!m_library)
        return;
    try {
        m_library->save(m_take);
        ++m_counters.saves;
    } catch (const Error& e) {
        // Shown; the next change tries again.
        ++m_counters.failedSaves;
        QString reason = e.message();
        const qsizetype colon = reason.indexOf(QStringLiteral(": "));
        if (reason.startsWith(QStringLiteral("Couldn't save")) && colon >= 0)
            reason = reason.mid(colon + 2);
        setErrorMessage(QStringLiteral("Couldn't save the take: ") + reason);
    }
}

void TakeEditorModel::save() {
    m_saveTimer.stop();
    saveNow();
    notifyIfIdle();
}

void TakeEditorModel::saveSoon() {
    m_saveTimer.start(); // restarts: a burst is written once, after the last change
}

// ---- setters -------------------------------------------------------------------------------

void TakeEditorModel::commitChange(EditorChange change, const Take& changed) {
    const bool timeline = changed.info.overdubs != m_take.info.overdubs ||
                          changed.info.mainRemoved != m_take.info.mainRemoved;
    setTake(changed);
    if (timeline)
        updateTimelineDuration();
    const ChangePolicy policy = policyOf(change);
    if (policy.save == ChangePolicy::Save::now)
        save();
    else
        saveSoon();
    switch (policy.rebuild) {
    case ChangePolicy::Rebuild::none:
        break;
    case ChangePolicy::Rebuild::picture:
        m_playback.refreshPicture();
        break;
    case ChangePolicy::Rebuild::process:
        invalidate(Stage::process, policy.delayed);
        break;
    case ChangePolicy::Rebuild::stems:
        invalidate(Stage::stems, policy.delayed);
        break;
    }
}

void TakeEditorModel::setMaster(const MasterSettings& master) {
    if (m_take.info.master == master)
        return;
    Take changed = m_take;
    changed.info.master = master;
    commitChange(EditorChange::master, changed);
}

void TakeEditorModel::setExportSettings(const ExportSettings& settings) {
    const ExportSettings before = m_take.info.exportSettings;
    if (before == settings)
        return;
    Take changed = m_take;
    changed.info.exportSettings = settings;
    const bool pictureChanged =
        before.aspect != settings.aspect || before.mirror != settings.mirror ||
        before.layout != settings.layout || before.positions != settings.positions;
    commitChange(pictureChanged ? EditorChange::exportPicture : EditorChange::exportOther, changed);
}

const Track* TakeEditorModel::track(const QUuid& id) const {
    for (const Track& t : m_take.info.tracks)
        if (t.id == id)
            return &t;
    return nullptr;
}

void TakeEditorModel::updateTrack(const QUuid& id, const std::function<void(Track&)>& change) {
    Take changed = m_take;
    bool found = false;
    for (Track& t : changed.info.tracks)
        if (t.id == id) {
            change(t);
            found = true;
            break;
        }
    if (!found || changed == m_take)
        return;
    commitChange(EditorChange::trackField, changed);
}

void TakeEditorModel::renameTrack(const QUuid& id, const QString& name) {
    Take changed = m_take;
    for (Track& t : changed.info.tracks)
        if (t.id == id) {
            t.name = name;
            break;
        }
    if (changed == m_take)
        return;
    commitChange(EditorChange::trackName, changed);
}

void TakeEditorModel::deleteTrack(const QUuid& id) {
    const Track* found = track(id);
    if (!found)
        return;
    if (!found->source.isInput()) {
        const QUuid overdubId = found->source.overdubId;
        const Overdub* overdub = m_take.info.overdub(overdubId);
        const auto count =
            std::count_if(m_take.info.tracks.begin(), m_take.info.tracks.end(),
                          [&](const Track& t) { return t.source.isOverdub(overdubId); });
        if (overdub && !overdub->hasVideo && count == 1) {
            deleteOverdub(overdubId);
            return;
        }
    }
    Take changed = m_take;
    std::erase_if(changed.info.tracks, [&](const Track& t) { return t.id == id; });
    commitChange(EditorChange::trackDeleted, changed);
}

void TakeEditorModel::updateOverdub(const QUuid& id, const std::function<void(Overdub&)>& change) {
    Take changed = m_take;
    Overdub* overdub = nullptr;
    for (Overdub& o : changed.info.overdubs)
        if (o.id == id)
            overdub = &o;
    if (!overdub)
        return;
    const double nudgeBefore = overdub->nudge;
    const double startBefore = overdub->start;
    change(*overdub);
    const double nudgeAfter = overdub->nudge;
    const bool moved = overdub->start != startBefore || nudgeAfter != nudgeBefore;
    const std::optional<QString> device = overdub->audioDeviceID;
    if (device && nudgeAfter != nudgeBefore)
        try {
            UserSettings::setOverdubNudge(*device, nudgeAfter);
        } catch (const Error&) {
            // Not remembered: the overdub itself keeps its nudge.
        }
    commitChange(moved ? EditorChange::overdubMoved : EditorChange::overdubField, changed);
}

void TakeEditorModel::setVideoShown(const Group& group, bool shown) {
    if (group.kind == Group::Kind::overdub) {
        updateOverdub(group.id, [shown](Overdub& o) { o.showVideo = shown; });
        return;
    }
    if (m_take.info.showMainVideo == shown)
        return;
    Take changed = m_take;
    changed.info.showMainVideo = shown;
    commitChange(EditorChange::mainVideoShown, changed);
}

void TakeEditorModel::setPosition(const ExportSettings::Position& position, const Lane& lane) {
    Take changed = m_take;
    changed.info.exportSettings.positions[lane.key()] = position;
    if (changed == m_take)
        return;
    commitChange(EditorChange::position, changed);
}

void TakeEditorModel::addOverdub(const Overdub& overdub, const std::vector<Track>& tracks) {
    Take changed = m_take;
    changed.info.overdubs.push_back(overdub);
    changed.info.tracks.insert(changed.info.tracks.end(), tracks.begin(), tracks.end());
    commitChange(EditorChange::overdubAdded, changed);
}

void TakeEditorModel::deleteOverdub(const QUuid& id) {
    const Overdub* overdub = m_take.info.overdub(id);
    if (!overdub)
        return;
    const QString fileName = overdub->fileName;
    Take changed = m_take;
    std::erase_if(changed.info.overdubs, [&](const Overdub& o) { return o.id == id; });
    std::erase_if(changed.info.tracks, [&](const Track& t) { return t.source.isOverdub(id); });
    commitChange(EditorChange::overdubDeleted, changed);
    // The run it asked for starts from the event loop, after the file is gone.
    if (isSafeOverdubFileName(fileName))
        moveToTrash(QDir(m_take.overdubsFolder()).filePath(fileName)); // failures are ignored
}

void TakeEditorModel::deleteRecording(const Group& group) {
    if (group.kind == Group::Kind::overdub) {
        deleteOverdub(group.id);
        return;
    }
    if (m_take.info.overdubs.empty()) {
        const Take whole = m_take;
        tearDown();
        if (m_library) {
            try {
                m_library->trash(whole);
            } catch (const Error& e) {
                setErrorMessage(e.message());
            }
        }
        return;
    }
    Take changed = m_take;
    changed.info.mainRemoved = true;
    std::erase_if(changed.info.tracks, [](const Track& t) { return t.source.isInput(); });
    assignAndNotify(this, m_filmstrip, std::vector<QImage>(), &TakeEditorModel::filmstripChanged);
    assignAndNotify(this, m_mainDuration, 0.0, &TakeEditorModel::mainDurationChanged);
    commitChange(EditorChange::mainDeleted, changed);
    moveToTrash(m_take.moviePath()); // failures are ignored
}

QString TakeEditorModel::suggestedFileName() const {
    return TakeExporter::suggestedFileName(m_take.info);
}

// ---- edits ---------------------------------------------------------------------------------

EditingState TakeEditorModel::editingState() const {
    return {m_take.info, m_selection, playhead(), m_sourceDuration, m_mainDuration};
}

void TakeEditorModel::apply(const EditOutcome& outcome) {
    const EditState previous = m_take.info.edit;
    setSelection(outcome.state.selection);
    if (outcome.actionName)
        m_committer.commit(outcome.state.info.edit, previous, *outcome.actionName, m_undo);
}

void TakeEditorModel::previewEdit(const EditState& edit) {
    Take changed = m_take;
    changed.info.edit = edit;
    setTake(changed);
}

void TakeEditorModel::commitEdit(const EditState& edit, const EditState& previous,
                                 const QString& actionName) {
    m_committer.commit(edit, previous, actionName, m_undo);
}

// ---- export and monitor --------------------------------------------------------------------

void TakeEditorModel::exportTo(const QString& path, std::function<void(bool)> done) {
    if (!done)
        done = [](bool) {};
    if (m_exportProgress) {
        done(false);
        return;
    }
    setExportProgress(0.0);
    auto start = [this, path, done] {
        const std::optional<QString> audio = m_pipeline.processedAudio();
        if (audio)
            m_pipeline.useFile(*audio);
        runInBackground(
            &m_exportPool, this,
            [this, take = m_take, spans = keptSpans(), audio, path,
             token = m_exportStop.get_token()] {
                return failureOf([&] {
                    const auto result =
                        TakeComposer::build(take, spans, audio, take.info.exportSettings, true);
                    QPointer<TakeEditorModel> self(this);
                    TakeExporter::exportTake(
                        result, take.info.exportSettings.format, path,
                        [self](double f) {
                            QMetaObject::invokeMethod(
                                QCoreApplication::instance(),
                                [self, f] {
                                    if (self && self->m_exportProgress)
                                        self->setExportProgress(f);
                                },
                                Qt::QueuedConnection);
                        },
                        token);
                });
            },
            [this, done, audio](std::optional<QString> failure) {
                if (audio)
                    m_pipeline.releaseFile(*audio);
                setExportProgress(std::nullopt);
                if (failure && !failure->isEmpty())
                    setErrorMessage(*failure);
                done(!failure);
                notifyIfIdle();
            });
    };
    // The export shows the edit as it is now: a run in progress finishes first, and one that
    // is still owed runs.
    m_pipeline.whenIdle([this, start] {
        if (m_pipeline.dirty() && !m_tornDown) {
            invalidate(*m_pipeline.dirty(), false);
            m_pipeline.whenIdle(start);
        } else {
            start();
        }
    });
}

void TakeEditorModel::exportForSharing(std::function<void(std::optional<QString>)> done) {
    const QString folder = QDir(QDir::tempPath()).filePath(QStringLiteral("Reelbox-share"));
    QDir().mkpath(folder);
    const QString path = QDir(folder).filePath(suggestedFileName());
    exportTo(path, [done, path](bool ok) { done(ok ? std::optional(path) : std::nullopt); });
}

void TakeEditorModel::monitorComposition(
    std::function<void(std::optional<TakeComposer::Result>, QString)> done) {
    m_pipeline.whenIdle([this, done] {
        struct Outcome {
            std::optional<TakeComposer::Result> result;
            std::optional<QString> mixPath;
            QString error;
        };
        const SpanList whole{{0, m_sourceDuration}};
        runInBackground(
            &m_exportPool, this,
            [take = m_take, stems = m_pipeline.stems(), whole, token = m_exportStop.get_token()] {
                Outcome outcome;
                const auto failure = failureOf([&] {
                    const QString cache = TakePipeline::cacheFolder(take);
                    const auto known = TakePipeline::extractStems(take, cache, stems, token);
                    const auto mix = TakePipeline::mix(
                        take, known, whole, TakePipeline::newAudioPath(cache, "monitor"), token);
                    if (mix)
                        outcome.mixPath = mix->path;
                    outcome.result =
                        TakeComposer::build(take, whole, outcome.mixPath,
                                            TakePipeline::monitorSettings(), take.info.mainRemoved);
                });
                outcome.error = failure.value_or(QString());
                if (failure && outcome.mixPath) // stopped after its mix was written
                    QFile::remove(*outcome.mixPath);
                return outcome;
            },
            [this, done](Outcome outcome) {
                if (outcome.mixPath)
                    m_pipeline.adoptMonitorMix(*outcome.mixPath);
                done(std::move(outcome.result), outcome.error);
            });
    });
}

// ---- playback ------------------------------------------------------------------------------

void TakeEditorModel::refreshPicture() {
    m_playback.refreshPicture();
}

void TakeEditorModel::seek(double sourceSeconds) {
    m_playback.seek(sourceSeconds);
}

void TakeEditorModel::jumpToStart() {
    m_playback.jumpToStart();
}

bool TakeEditorModel::atEnd() const {
    return m_playback.atEnd();
}

double TakeEditorModel::outputTime() const {
    return m_playback.outputTime();
}

void TakeEditorModel::play() {
    m_playback.play();
}

void TakeEditorModel::pause() {
    m_playback.pause();
}

void TakeEditorModel::stepFrames(int frames) {
    m_playback.pause();
    if (Player* player = m_playback.player())
        player->step(frames);
}

// ---- end -----------------------------------------------------------------------------------

void TakeEditorModel::tearDown() {
    if (m_tornDown)
        return;
    if (m_saveTimer.isActive())
        save();
    m_tornDown = true;
    m_pipeline.stop();
    m_exportStop.request_stop();
    m_playback.stop();
    notifyIfIdle();
}

} // namespace reelbox
