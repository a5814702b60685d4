#pragma once

#include "audio/Waveform.h"
#include "compose/LiveLayout.h"
#include "compose/TakeComposer.h"
#include "edit/EditCommitter.h"
#include "edit/EditingState.h"
#include "edit/EditorChanges.h"
#include "edit/EditorPipeline.h"
#include "edit/EditorPlayback.h"
#include "edit/Group.h"
#include "edit/TakePipeline.h"
#include "model/Take.h"
#include "play/Player.h"

#include <QImage>
#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>

namespace reelbox {

class SoundSystem;
class TakeLibrary;
class UndoRegistry;

// The state and logic behind the editor of one open take: it owns the record while the take
// is open, saves it, exports it, and keeps a preview of the edit ready in its player. A change
// names the earliest pipeline stage it spoils; the pipeline runs (EditorPipeline) and the
// playing preview (EditorPlayback) are parts it owns.
// Threads: call it on the main thread only; its signals arrive on the main thread.
class TakeEditorModel : public QObject {
    Q_OBJECT
public:
    using Stage = EditorStage;
    // What the pipeline did, for tests and the command line.
    using Counters = EditorCounters;

    // The player plays through `sound`: its default output, or `outputId`.
    TakeEditorModel(Take take, TakeLibrary* library, SoundSystem& sound,
                    const QString& outputId = {}, QObject* parent = nullptr);
    ~TakeEditorModel() override;

    // ---- state -------------------------------------------------------------------------
    const Take& take() const { return m_take; }
    Player* player() const { return m_playback.player(); }
    bool isPlaying() const { return m_playback.isPlaying(); }
    double playhead() const { return m_playback.playhead(); }
    const SpanList& playerSpans() const { return m_playback.playerSpans(); }
    SizeD renderSize() const { return m_playback.renderSize(); }
    double sourceDuration() const { return m_sourceDuration; }
    double mainDuration() const { return m_mainDuration; }
    const std::map<QUuid, Waveform>& waveforms() const { return m_waveforms; }
    const std::vector<QImage>& filmstrip() const { return m_filmstrip; }
    const std::map<QUuid, std::vector<QImage>>& overdubFilmstrips() const {
        return m_overdubFilmstrips;
    }
    const std::vector<TakeComposer::Placement>& placements() const {
        return m_playback.placements();
    }
    SizeD canvasSource() const { return m_playback.canvasSource(); }
    const std::optional<Selection>& selection() const { return m_selection; }
    bool isRendering() const { return m_isRendering; }
    std::optional<double> normalizeGainDB() const { return m_normalizeGainDB; }
    std::optional<double> exportProgress() const { return m_exportProgress; }
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    bool isOverdubbing() const { return m_isOverdubbing; }
    const std::optional<QImage>& freezeFrame() const { return m_playback.freezeFrame(); }
    std::optional<QString> processedAudio() const { return m_pipeline.processedAudio(); }
    std::optional<Stage> dirty() const { return m_pipeline.dirty(); }
    const Counters& counters() const { return m_counters; }
    // No run waiting or running, no save pending.
    bool isIdle() const;

    void setSelection(const std::optional<Selection>& selection);
    void setErrorMessage(const std::optional<QString>& message);
    void setOverdubbing(bool overdubbing);
    void setUndoRegistry(UndoRegistry* undo) { m_undo = undo; }

    // ---- pipeline and saving -------------------------------------------------------------
    void invalidate(Stage stage, bool delay);
    void save();
    void saveSoon();

    // ---- setters and commands --------------------------------------------------------------
    const MasterSettings& master() const { return m_take.info.master; }
    void setMaster(const MasterSettings& master);
    const ExportSettings& exportSettings() const { return m_take.info.exportSettings; }
    void setExportSettings(const ExportSettings& settings);
    const Track* track(const QUuid& id) const;
    // A mixer edit of one track (mute, solo, volume, pan, effects).
    void updateTrack(const QUuid& id, const std::function<void(Track&)>& change);
    void renameTrack(const QUuid& id, const QString& name);
    void deleteTrack(const QUuid& id);
    void updateOverdub(const QUuid& id, const std::function<void(Overdub&)>& change);
    void setVideoShown(const Group& group, bool shown);
    void setPosition(const ExportSettings::Position& position, const Lane& lane);
    void addOverdub(const Overdub& overdub, const std::vector<Track>& tracks);
    void deleteOverdub(const QUuid& id);
    void deleteRecording(const Group& group);
    QString suggestedFileName() const;

    // ---- edits -------------------------------------------------------------------------------
    EditingState editingState() const;
    // Takes the outcome's selection; a committed outcome also saves, reruns the mix and can be
    // undone.
    void apply(const EditOutcome& outcome);
    // Shows an edit while an edge is dragged: nothing is saved, rerun or registered for undo.
    void previewEdit(const EditState& edit);
    // Commits a dragged edit: `previous` (the edit from before the drag) is the undo state.
    void commitEdit(const EditState& edit, const EditState& previous, const QString& actionName);

    // ---- export and overdubs -----------------------------------------------------------------
    // Exports the edit to `path`; `done(false)` at once while another export runs, and on
    // failure (with errorMessage set).
    void exportTo(const QString& path, std::function<void(bool)> done = {});
    // Exports into the temporary folder "Reelbox-share"; the path, or none.
    void exportForSharing(std::function<void(std::optional<QString>)> done);
    // The whole timeline as one composition with a monitor mix, for recording an overdub.
    void monitorComposition(
        std::function<void(std::optional<TakeComposer::Result>, QString error)> done);

    // ---- playback ----------------------------------------------------------------------------
    void seek(double sourceSeconds);
    void jumpToStart();
    bool atEnd() const;
    // A seek is on its way to the player.
    bool isSeeking() const { return m_playback.isSeeking(); }
    double outputTime() const;
    void play();
    void pause();
    // Pauses and moves the picture by whole frames (negative: back).
    void stepFrames(int frames);
    void refreshPicture();

    // Saves a pending change, stops the pipeline and the player.
    void tearDown();

signals:
    void takeChanged();
    void isPlayingChanged();
    void playheadChanged();
    void playerSpansChanged();
    void renderSizeChanged();
    void sourceDurationChanged();
    void mainDurationChanged();
    void waveformsChanged();
    void filmstripChanged();
    void overdubFilmstripsChanged();
    void placementsChanged();
    void canvasSourceChanged();
    void selectionChanged();
    void isRenderingChanged();
    void normalizeGainDBChanged();
    void exportProgressChanged();
    void errorMessageChanged();
    void isOverdubbingChanged();
    void freezeFrameChanged();
    // The pipeline has nothing waiting or running and no save is pending.
    void idle();

private:
    void setTake(const Take& take);
    // Takes the name the library holds for the open take (a rename from the take list).
    void adoptLibraryName();
    // Takes the changed take, saves it and rebuilds the preview as the change's policy says.
    void commitChange(EditorChange change, const Take& changed);
    void setIsRendering(bool rendering);
    void setExportProgress(std::optional<double> progress);
    void updateTimelineDuration();
    void readSourceInfo();
    void notifyIfIdle();
    void saveNow();
    SpanList keptSpans() const;

    Take m_take;
    TakeLibrary* m_library;
    double m_sourceDuration = 0;
    double m_mainDuration = 0;
    std::map<QUuid, Waveform> m_waveforms;
    std::vector<QImage> m_filmstrip;
    std::map<QUuid, std::vector<QImage>> m_overdubFilmstrips;
    std::optional<Selection> m_selection;
    bool m_isRendering = false;
    std::optional<double> m_normalizeGainDB;
    std::optional<double> m_exportProgress;
    std::optional<QString> m_errorMessage;
    bool m_isOverdubbing = false;

    UndoRegistry* m_undo = nullptr;
    EditCommitter m_committer;
    Counters m_counters;
    QTimer m_saveTimer;
    bool m_tornDown = false;
    std::stop_source m_exportStop; // exports, stopped only by tearDown
    QThreadPool m_exportPool;      // exports and monitor mixes
    EditorPipeline m_pipeline;
    EditorPlayback m_playback;
};

} // namespace reelbox
