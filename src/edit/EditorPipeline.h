#pragma once

#include "compose/TakeComposer.h"
#include "edit/TakePipeline.h"
#include "model/Take.h"
#include "play/Player.h"

#include <QObject>
#include <QStringList>
#include <QThreadPool>
#include <QUuid>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <vector>

namespace reelbox {

// The stages of the editor's pipeline, earliest first: a change names the earliest it spoils.
enum class EditorStage { stems = 0, process = 1, compose = 2 };

// What the editor's pipeline and its saving did, for tests and the command line.
struct EditorCounters {
    int runs = 0;      // started (after the wait)
    int completed = 0; // loaded into the player
    int cancelled = 0;
    int failed = 0;
    int saves = 0;       // take.json writes
    int failedSaves = 0; // writes that failed (errorMessage says why)
    std::optional<EditorStage> lastStage;
};

// The pipeline runs behind the take editor's preview: stems → mix → composition on one worker,
// one run at a time, a newer change cancelling the running one. It keeps the stems and the
// mix the preview plays, and removes the mix files nothing uses any more (one an export reads
// waits for the export's end). The model owns it and hands each finished run on to playback
// through its callbacks.
// Threads: call it on the main thread only; its callbacks run on the main thread.
class EditorPipeline : public QObject {
public:
    using Stage = EditorStage;
    using Counters = EditorCounters;

    // What a run starts from: the take as it is now.
    struct Input {
        Take take;
        SpanList spans;
        std::set<QUuid> stripsKnown; // overdubs whose filmstrip is made
    };
    struct Callbacks {
        std::function<Input()> input;
        // New stems were read: their waveforms and the new overdub filmstrips.
        std::function<void(const TakePipeline::StemsResult&)> stemsRead;
        std::function<void(bool)> renderingChanged;
        std::function<void(double)> normalizeGainChanged;
        std::function<void(const QString&)> error;
        // A new preview: the composition, its spans and its mix in memory.
        std::function<void(const TakeComposer::Result&, const SpanList&, Player::MixInMemory)> load;
        // A run or a file removal ended: the model may be idle now.
        std::function<void()> settled;
    };

    EditorPipeline(Counters& counters, Callbacks callbacks);
    ~EditorPipeline() override;

    // Queues the removal of the mix and monitor mix an earlier opening of the take left.
    void removeOldMixes(const Take& take);
    // Marks `stage` and everything after it stale and starts a new run (after a short wait
    // that lets a burst collapse into one run, with `delay`), cancelling the one running.
    void invalidate(Stage stage, bool delay);
    // Cancels the running run and starts none until the next invalidate; ignores later calls.
    void stop();

    std::optional<Stage> dirty() const { return m_dirty; }
    // A run is waiting or working.
    bool isPending() const { return m_pending; }
    // No run waiting or working and no file being removed.
    bool isIdle() const { return !m_pending && m_discarding == 0; }
    const TakePipeline::StemMap& stems() const { return m_stems; }
    std::optional<QString> processedAudio() const { return m_processedAudio; }
    // The pipeline's one worker, shared by other reading of the take that must not run
    // beside a run.
    QThreadPool& pool() { return m_pool; }

    // Runs `then` once no run is pending (at once when none is).
    void whenIdle(std::function<void()> then);
    // Runs what waits for the pipeline, when no run is pending.
    void runWhenIdle();

    // Removes the files off the main thread; a file in use waits for its last user.
    void discardFiles(const QStringList& files);
    // An export reads `file`: it stays until released.
    void useFile(const QString& file);
    void releaseFile(const QString& file);
    // A new monitor mix replaces the last one, which goes.
    void adoptMonitorMix(const QString& file);

private:
    struct RunOutput;
    void run(int run);
    void finish(int run, RunOutput output);
    void cancel();

    Counters& m_counters;
    Callbacks m_callbacks;
    std::optional<Stage> m_dirty;
    TakePipeline::StemMap m_stems;
    // Processed tracks of the last mix; only the pipeline's one worker touches it.
    std::shared_ptr<AudioProcessor::TrackCache> m_trackCache =
        std::make_shared<AudioProcessor::TrackCache>();
    std::optional<QString> m_processedAudio;
    QStringList m_staleFiles;
    std::optional<QString> m_monitorAudio;
    std::multiset<QString> m_filesInUse; // mixes running exports read
    QStringList m_heldFiles;             // stale files kept until their export ends
    int m_run = 0;                       // the current run; older ones are stale
    bool m_pending = false;              // a run is waiting or working
    bool m_stopped = false;
    std::stop_source m_stop; // the current run
    std::vector<std::function<void()>> m_whenIdle;
    int m_discarding = 0; // file removals under way
    QThreadPool m_pool;
};

} // namespace reelbox
