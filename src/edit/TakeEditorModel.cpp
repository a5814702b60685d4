#include "edit/TakeEditorModel.h"

#include "audio/Filmstrip.h"
#include "compose/TakeExporter.h"
#include "edit/EditOperations.h"
#include "model/TakeLibrary.h"
#include "model/TimeMap.h"
#include "model/UserSettings.h"
#include "platform/Background.h"
#include "platform/Cancellation.h"
#include "platform/Log.h"
#include "platform/Trash.h"
#include "platform/media/MovieInfo.h"
#include "play/Player.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <cmath>
#include <sstream>

namespace reelbox {

namespace {
constexpr int pipelineWaitMs = 150;
constexpr int saveWaitMs = 400;
constexpr double playheadStep = 0.0005;
constexpr double endTolerance = 0.05;

QString describe(const SpanList& spans) {
    std::ostringstream out;
    out << '[';
    for (size_t i = 0; i < spans.size(); ++i)
        out << (i ? ", " : "") << '(' << spans[i].start << ", " << spans[i].end << ')';
    out << ']';
    return QString::fromStdString(out.str());
}

} // namespace

// What one pipeline run hands back to the main thread.
struct TakeEditorModel::RunOutput {
    std::optional<TakePipeline::StemsResult> stems;
    std::optional<TakePipeline::Mix> mix;
    bool mixCleared = false; // the process stage found no track to mix
    std::optional<TakeComposer::Result> result;
    SpanList spans;
    bool cancelled = false;
    std::optional<QString> error;
};

TakeEditorModel::TakeEditorModel(Take take, TakeLibrary* library, SoundSystem* sound,
                                 const QString& outputId, QObject* parent)
    : QObject(parent), m_take(std::move(take)), m_library(library),
      m_player(std::make_unique<Player>(sound, outputId)),
      m_sourceDuration(m_take.info.timelineDuration()), m_mainDuration(m_take.info.duration),
      m_committer([this](const EditState& edit) {
          Take changed = m_take;
          changed.info.edit = edit;
          commitChange(EditorChange::edit, changed);
      }) {
    m_pool.setMaxThreadCount(1);
    m_exportPool.setMaxThreadCount(1);
    m_saveTimer.setSingleShot(true);
    m_saveTimer.setInterval(saveWaitMs);
    m_saveTimer.setTimerType(Qt::PreciseTimer); // 400 ms, not anywhere from 380 to 420
    connect(&m_saveTimer, &QTimer::timeout, this, &TakeEditorModel::save);

    connect(m_player.get(), &Player::timeChanged, this, &TakeEditorModel::playerTimeChanged);
    connect(m_player.get(), &Player::playingChanged, this, [this](bool playing) {
        // A preview being replaced while it played still counts as playing.
        assign(m_isPlaying, playing || m_resumeAfterLoad, &TakeEditorModel::isPlayingChanged);
    });
    connect(m_player.get(), &Player::framePresented, this, [this] { ++m_framesSinceLoad; });
    connect(m_player.get(), &Player::statusChanged, this, [this](Player::Status status) {
        if (status == Player::Status::ready) {
            const int load = m_load;
            seek(m_playhead); // the position in source time survives the new edit
            if (std::exchange(m_resumeAfterLoad, false))
                m_player->play();
            if (load == m_load)
                releaseFreezeFrame();
        } else if (status == Player::Status::failed) {
            m_resumeAfterLoad = false;
            assign(m_isPlaying, false, &TakeEditorModel::isPlayingChanged);
            assign(m_freezeFrame, std::optional<QImage>(), &TakeEditorModel::freezeFrameChanged);
            const QString why = m_player->errorString();
            setErrorMessage(QStringLiteral("The preview couldn't be shown: ") +
                            (why.isEmpty() ? QStringLiteral("unknown error") : why));
        }
    });

    // A rename from the take list reaches the open copy, so the next save keeps it.
    if (m_library)
        connect(m_library, &TakeLibrary::takesChanged, this, &TakeEditorModel::adoptLibraryName);

    removeOldMixes(); // queued first on the pipeline's worker
    invalidate(Stage::stems, false);
    readSourceInfo();
}

void TakeEditorModel::removeOldMixes() {
    // What an earlier opening of the take left: its last mix and monitor mix.
    ++m_discarding;
    runInBackground(
        &m_pool, this,
        [take = m_take] {
            const QDir cache(TakePipeline::cacheFolder(take));
            for (const QString& name : cache.entryList(
                     {QStringLiteral("mix-*.caf"), QStringLiteral("monitor-*.caf")}, QDir::Files))
                QFile::remove(cache.filePath(name));
            return true;
        },
        [this](bool) {
            --m_discarding;
            notifyIfIdle();
        });
}

TakeEditorModel::~TakeEditorModel() {
    tearDown();
    // Workers may still finish; their results find the model gone.
    m_pool.waitForDone();
    m_exportPool.waitForDone();
}

template <class T, class Signal>
void TakeEditorModel::assign(T& field, const T& value, Signal signal) {
    if (field == value)
        return;
    field = value;
    emit(this->*signal)();
}

// ---- state ---------------------------------------------------------------------------------

bool TakeEditorModel::isIdle() const {
    return !m_pipelinePending && !m_saveTimer.isActive() && m_discarding == 0;
}

void TakeEditorModel::setTake(const Take& take) {
    assign(m_take, take, &TakeEditorModel::takeChanged);
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

void TakeEditorModel::setPlayhead(double seconds) {
    assign(m_playhead, seconds, &TakeEditorModel::playheadChanged);
}

void TakeEditorModel::setSelection(const std::optional<Selection>& selection) {
    assign(m_selection, selection, &TakeEditorModel::selectionChanged);
}

void TakeEditorModel::setErrorMessage(const std::optional<QString>& message) {
    assign(m_errorMessage, message, &TakeEditorModel::errorMessageChanged);
}

void TakeEditorModel::setOverdubbing(bool overdubbing) {
    assign(m_isOverdubbing, overdubbing, &TakeEditorModel::isOverdubbingChanged);
}

void TakeEditorModel::setIsRendering(bool rendering) {
    assign(m_isRendering, rendering, &TakeEditorModel::isRenderingChanged);
}

void TakeEditorModel::setExportProgress(std::optional<double> progress) {
    assign(m_exportProgress, progress, &TakeEditorModel::exportProgressChanged);
}

void TakeEditorModel::updateTimelineDuration() {
    double duration = m_take.info.mainRemoved ? 0 : m_mainDuration;
    for (const Overdub& o : m_take.info.overdubs)
        duration = std::max(duration, o.placedStart() + o.duration);
    assign(m_sourceDuration, duration, &TakeEditorModel::sourceDurationChanged);
}

void TakeEditorModel::readSourceInfo() {
    if (m_take.info.mainRemoved) {
        assign(m_mainDuration, 0.0, &TakeEditorModel::mainDurationChanged);
        updateTimelineDuration();
        return;
    }
    struct Source {
        std::optional<double> videoEnd;
        std::vector<QImage> filmstrip;
    };
    runInBackground(
        &m_pool, this,
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
                assign(m_mainDuration, *source.videoEnd, &TakeEditorModel::mainDurationChanged);
                updateTimelineDuration();
            }
            assign(m_filmstrip, source.filmstrip, &TakeEditorModel::filmstripChanged);
        });
}

SpanList TakeEditorModel::keptSpans() const {
    return m_take.info.edit.keptSpans(m_sourceDuration);
}

// ---- pipeline ------------------------------------------------------------------------------

void TakeEditorModel::invalidate(Stage stage, bool delay) {
    if (m_tornDown)
        return;
    m_dirty = m_dirty ? std::min(*m_dirty, stage) : stage;
    cancelPipeline();
    const int run = ++m_run;
    m_pipelinePending = true;
    QTimer::singleShot(delay ? pipelineWaitMs : 0, this, [this, run] {
        if (run == m_run)
            runPipeline(run);
    });
}

void TakeEditorModel::cancelPipeline() {
    m_stop.request_stop();
    m_stop = std::stop_source();
}

void TakeEditorModel::runPipeline(int run) {
    if (!m_dirty) {
        m_pipelinePending = false;
        notifyIfIdle();
        return;
    }
    const Stage stage = *m_dirty;
    setIsRendering(true);
    ++m_counters.runs;
    m_counters.lastStage = stage;
    m_runWorking = true;

    std::set<QUuid> stripsKnown;
    for (const auto& [id, strip] : m_overdubFilmstrips)
        stripsKnown.insert(id);
    runInBackground(
        &m_pool, this,
        [take = m_take, stems = m_stems, stripsKnown, stage, spans = keptSpans(),
         current = m_processedAudio, token = m_stop.get_token(), cache = m_trackCache] {
            RunOutput out;
            out.spans = spans;
            const auto failure = failureOf([&] {
                const QString folder = TakePipeline::cacheFolder(take);
                TakePipeline::StemMap known = stems;
                if (stage == Stage::stems) {
                    out.stems = TakePipeline::loadStems(take, folder, known, stripsKnown, token);
                    known = out.stems->stems;
                }
                std::optional<QString> audio = current;
                if (stage <= Stage::process) {
                    out.mix = TakePipeline::mix(take, known, spans,
                                                TakePipeline::newAudioPath(folder, "mix"), token,
                                                {}, cache.get(), true);
                    out.mixCleared = !out.mix;
                    audio = out.mix ? std::optional(out.mix->path) : std::nullopt;
                }
                out.result =
                    TakeComposer::build(take, spans, audio, take.info.exportSettings, true);
                throwIfCancelled(token);
            });
            out.cancelled = failure && failure->isEmpty();
            if (failure && !failure->isEmpty())
                out.error = failure;
            return out;
        },
        [this, run](RunOutput out) { finishRun(run, std::move(out)); });
}

void TakeEditorModel::finishRun(int run, RunOutput out) {
    // Stems are kept whatever became of the run: a file is extracted once per model.
    if (out.stems) {
        for (const auto& [file, list] : out.stems->stems)
            m_stems[file] = list;
        if (!out.cancelled && run == m_run) {
            assign(m_waveforms, out.stems->waveforms, &TakeEditorModel::waveformsChanged);
            auto strips = m_overdubFilmstrips;
            for (auto& [id, strip] : out.stems->overdubStrips)
                strips[id] = strip;
            assign(m_overdubFilmstrips, strips, &TakeEditorModel::overdubFilmstripsChanged);
        }
    }
    if (run != m_run || out.cancelled) {
        // A newer change took over; its run follows. A mix made for nothing goes.
        if (out.mix)
            discardFiles({out.mix->path});
        ++m_counters.cancelled;
        if (run == m_run) { // cancelled without a newer run: tearDown
            m_runWorking = false;
            m_pipelinePending = false;
            notifyIfIdle();
        }
        return;
    }
    m_runWorking = false;
    if (out.error) {
        ++m_counters.failed;
        setErrorMessage(*out.error);
        setIsRendering(false);
        m_pipelinePending = false;
        notifyIfIdle();
        return;
    }
    if (out.mix) {
        if (m_processedAudio)
            m_staleFiles << *m_processedAudio;
        m_processedAudio = out.mix->path;
        assign(m_normalizeGainDB, std::optional(out.mix->analysis.normalizeGainDB),
               &TakeEditorModel::normalizeGainDBChanged);
    } else if (out.mixCleared) {
        if (m_processedAudio)
            m_staleFiles << *m_processedAudio;
        m_processedAudio.reset();
    }
    const TakeComposer::Result& result = *out.result;
    if (result.videoComposition &&
        !TakePipeline::isValidPicture(result.composition, *result.videoComposition)) {
        qCWarning(reelboxLog).noquote()
            << "Reelbox: invalid video composition for" << describe(out.spans);
        setErrorMessage(QStringLiteral(
            "The preview couldn't be built for this edit. Undo the last change (Ctrl+Z)."));
    }
    load(result, out.spans,
         out.mix ? Player::MixInMemory{out.mix->path, out.mix->samples} : Player::MixInMemory{});
    discardFiles(std::exchange(m_staleFiles, {}));
    m_dirty.reset();
    setIsRendering(false);
    ++m_counters.completed;
    m_pipelinePending = false;
    notifyIfIdle();
}

void TakeEditorModel::whenPipelineIdle(std::function<void()> then) {
    if (!m_pipelinePending) {
        then();
        return;
    }
    m_whenIdle.push_back(std::move(then));
}

void TakeEditorModel::discardFiles(const QStringList& stale) {
    // A mix an export reads waits for the export's end.
    QStringList files;
    for (const QString& file : stale) {
        if (m_filesInUse.contains(file))
            m_heldFiles << file;
        else
            files << file;
    }
    // Off the main thread: removing a long mix takes milliseconds. Failures are ignored.
    if (files.isEmpty())
        return;
    ++m_discarding;
    runInBackground(
        &m_pool, this,
        [files] {
            for (const QString& file : files)
                QFile::remove(file);
            return true;
        },
        [this](bool) {
            --m_discarding;
            notifyIfIdle();
        });
}

void TakeEditorModel::notifyIfIdle() {
    if (m_pipelinePending)
        return;
    for (auto& then : std::exchange(m_whenIdle, {}))
        then();
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
        refreshPicture();
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
    assign(m_filmstrip, std::vector<QImage>(), &TakeEditorModel::filmstripChanged);
    assign(m_mainDuration, 0.0, &TakeEditorModel::mainDurationChanged);
    commitChange(EditorChange::mainDeleted, changed);
    moveToTrash(m_take.moviePath()); // failures are ignored
}

QString TakeEditorModel::suggestedFileName() const {
    return TakeExporter::suggestedFileName(m_take.info);
}

// ---- edits ---------------------------------------------------------------------------------

EditingState TakeEditorModel::editingState() const {
    return {m_take.info, m_selection, m_playhead, m_sourceDuration, m_mainDuration};
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
        const std::optional<QString> audio = m_processedAudio;
        if (audio)
            m_filesInUse.insert(*audio);
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
                if (audio) {
                    m_filesInUse.erase(m_filesInUse.find(*audio));
                    if (!m_filesInUse.contains(*audio) && m_heldFiles.removeAll(*audio) > 0)
                        discardFiles({*audio});
                }
                setExportProgress(std::nullopt);
                if (failure && !failure->isEmpty())
                    setErrorMessage(*failure);
                done(!failure);
                notifyIfIdle();
            });
    };
    // The export shows the edit as it is now: a run in progress finishes first, and one that
    // is still owed runs.
    whenPipelineIdle([this, start] {
        if (m_dirty && !m_tornDown) {
            invalidate(*m_dirty, false);
            whenPipelineIdle(start);
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
    whenPipelineIdle([this, done] {
        struct Outcome {
            std::optional<TakeComposer::Result> result;
            std::optional<QString> mixPath;
            QString error;
        };
        const SpanList whole{{0, m_sourceDuration}};
        runInBackground(
            &m_exportPool, this,
            [take = m_take, stems = m_stems, whole, token = m_exportStop.get_token()] {
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
                if (outcome.mixPath) {
                    if (m_monitorAudio)
                        discardFiles({*m_monitorAudio});
                    m_monitorAudio = outcome.mixPath;
                }
                done(std::move(outcome.result), outcome.error);
            });
    });
}

// ---- playback ------------------------------------------------------------------------------

void TakeEditorModel::load(const TakeComposer::Result& composed, const SpanList& spans,
                           Player::MixInMemory inMemory) {
    // The picture settings may have changed while the run worked: they are taken as they are
    // now.
    TakeComposer::Result result = composed;
    if (result.videoComposition && !result.videoSources.empty()) {
        TakeComposer::Picture picture =
            TakeComposer::picture(result.videoSources, m_take.info, result.canvasSource,
                                  m_take.info.exportSettings, result.composition.duration());
        result.placements = std::move(picture.placements);
        result.renderSize = picture.videoComposition.renderSize;
        result.videoComposition = std::move(picture.videoComposition);
    }
    m_resumeAfterLoad = m_isPlaying;
    if (m_player->hasItem() && !m_player->lastFrame().isNull())
        assign(m_freezeFrame, std::optional(m_player->lastFrame()),
               &TakeEditorModel::freezeFrameChanged);
    m_seekInFlight = false;
    m_pendingSeek.reset();
    ++m_load;
    ++m_release; // a release still waiting belongs to the old item
    m_framesSinceLoad = 0;
    assign(m_playerSpans, spans, &TakeEditorModel::playerSpansChanged);
    assign(m_renderSize, result.renderSize, &TakeEditorModel::renderSizeChanged);
    assign(m_placements, result.placements, &TakeEditorModel::placementsChanged);
    assign(m_canvasSource, result.canvasSource, &TakeEditorModel::canvasSourceChanged);
    m_videoSources = result.videoSources;
    writeLayout();
    m_player->load(result, m_liveLayout, std::move(inMemory));
}

void TakeEditorModel::writeLayout() {
    m_liveLayout->replace(
        TakeComposer::liveSnapshot(m_renderSize, m_placements, m_take.info.exportSettings.mirror));
}

void TakeEditorModel::refreshPicture() {
    if (!m_player->hasItem() || m_videoSources.empty()) {
        // A run under way or owed loads the picture as it is then.
        if (!m_pipelinePending)
            invalidate(Stage::compose, false);
        return;
    }
    const auto picture =
        TakeComposer::picture(m_videoSources, m_take.info, m_canvasSource,
                              m_take.info.exportSettings, toTicks(m_player->duration()));
    assign(m_placements, picture.placements, &TakeEditorModel::placementsChanged);
    assign(m_renderSize, picture.videoComposition.renderSize, &TakeEditorModel::renderSizeChanged);
    writeLayout();
    if (!m_isPlaying)
        m_player->redraw();
}

void TakeEditorModel::playerTimeChanged(double seconds) {
    if (m_seekInFlight || !std::isfinite(seconds) || m_player->status() != Player::Status::ready)
        return;
    const double source = TimeMap{m_playerSpans}.sourceTime(seconds);
    if (std::fabs(source - m_playhead) > playheadStep)
        setPlayhead(source);
}

void TakeEditorModel::seek(double sourceSeconds) {
    const double t = std::clamp(sourceSeconds, 0.0, m_sourceDuration);
    setPlayhead(t);
    chaseSeek(TimeMap{m_playerSpans}.outputTime(t));
}

void TakeEditorModel::chaseSeek(double outputSeconds) {
    if (m_seekInFlight) {
        m_pendingSeek = outputSeconds; // the last request wins
        return;
    }
    m_seekInFlight = true;
    QPointer<TakeEditorModel> self(this);
    m_player->seek(outputSeconds, [self](bool) {
        if (!self)
            return;
        self->m_seekInFlight = false;
        if (auto next = std::exchange(self->m_pendingSeek, std::nullopt))
            self->chaseSeek(*next);
    });
}

void TakeEditorModel::jumpToStart() {
    const SpanList spans = keptSpans();
    seek(spans.empty() ? 0 : spans.front().start);
}

bool TakeEditorModel::atEnd() const {
    const double total = TimeMap{m_playerSpans}.totalLength();
    if (m_playerSpans.empty() || !(total > 0))
        return false;
    return m_player->currentTime() >= total - endTolerance;
}

double TakeEditorModel::outputTime() const {
    return TimeMap{m_playerSpans}.outputTime(m_playhead);
}

void TakeEditorModel::play() {
    if (m_player->status() != Player::Status::ready) {
        // Waiting to play counts as playing: it starts once the preview is ready.
        if (m_tornDown || m_player->status() == Player::Status::failed)
            return;
        m_resumeAfterLoad = true;
        assign(m_isPlaying, true, &TakeEditorModel::isPlayingChanged);
        return;
    }
    if (atEnd())
        jumpToStart();
    m_player->play();
}

void TakeEditorModel::pause() {
    if (std::exchange(m_resumeAfterLoad, false) && !m_player->isPlaying())
        assign(m_isPlaying, false, &TakeEditorModel::isPlayingChanged);
    m_player->pause();
}

void TakeEditorModel::releaseFreezeFrame() {
    pollFirstFrame(++m_release, 0);
}

void TakeEditorModel::pollFirstFrame(int release, int tries) {
    // Up to 25 polls of 20 ms for the new item's first picture, then 50 ms more.
    if (release != m_release)
        return;
    if (m_framesSinceLoad == 0 && tries < 25) {
        QTimer::singleShot(20, this,
                           [this, release, tries] { pollFirstFrame(release, tries + 1); });
        return;
    }
    QTimer::singleShot(50, this, [this, release] {
        if (release == m_release)
            assign(m_freezeFrame, std::optional<QImage>(), &TakeEditorModel::freezeFrameChanged);
    });
}

// ---- end -----------------------------------------------------------------------------------

void TakeEditorModel::tearDown() {
    if (m_tornDown)
        return;
    if (m_saveTimer.isActive())
        save();
    m_tornDown = true;
    cancelPipeline();
    m_exportStop.request_stop();
    ++m_run;
    m_pipelinePending = false;
    m_player->pause();
    m_player->clear();
    notifyIfIdle();
}

} // namespace reelbox
