#include "edit/EditorPipeline.h"

#include "platform/Background.h"
#include "platform/Cancellation.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QTimer>
#include <sstream>

namespace reelbox {

namespace {
constexpr int pipelineWaitMs = 150;

QString describe(const SpanList& spans) {
    std::ostringstream out;
    out << '[';
    for (size_t i = 0; i < spans.size(); ++i)
        out << (i ? ", " : "") << '(' << spans[i].start << ", " << spans[i].end << ')';
    out << ']';
    return QString::fromStdString(out.str());
}

} // namespace

// What one run hands back to the main thread.
struct EditorPipeline::RunOutput {
    std::optional<TakePipeline::StemsResult> stems;
    std::optional<TakePipeline::Mix> mix;
    bool mixCleared = false; // the process stage found no track to mix
    std::optional<TakeComposer::Result> result;
    SpanList spans;
    bool cancelled = false;
    std::optional<QString> error;
};

EditorPipeline::EditorPipeline(Counters& counters, Callbacks callbacks)
    : m_counters(counters), m_callbacks(std::move(callbacks)) {
    m_pool.setMaxThreadCount(1);
}

EditorPipeline::~EditorPipeline() {
    stop();
    m_pool.waitForDone(); // workers may still finish; their results find the pipeline gone
}

void EditorPipeline::removeOldMixes(const Take& take) {
    // What an earlier opening of the take left: its last mix and monitor mix.
    ++m_discarding;
    runInBackground(
        &m_pool, this,
        [take] {
            const QDir cache(TakePipeline::cacheFolder(take));
            for (const QString& name : cache.entryList(
                     {QStringLiteral("mix-*.caf"), QStringLiteral("monitor-*.caf")}, QDir::Files))
                QFile::remove(cache.filePath(name));
            return true;
        },
        [this](bool) {
            --m_discarding;
            m_callbacks.settled();
        });
}

void EditorPipeline::invalidate(Stage stage, bool delay) {
    if (m_stopped)
        return;
    m_dirty = m_dirty ? std::min(*m_dirty, stage) : stage;
    cancel();
    const int run = ++m_run;
    m_pending = true;
    QTimer::singleShot(delay ? pipelineWaitMs : 0, this, [this, run] {
        if (run == m_run)
            this->run(run);
    });
}

void EditorPipeline::cancel() {
    m_stop.request_stop();
    m_stop = std::stop_source();
}

void EditorPipeline::stop() {
    if (m_stopped)
        return;
    m_stopped = true;
    cancel();
    ++m_run;
    m_pending = false;
}

void EditorPipeline::run(int run) {
    if (!m_dirty) {
        m_pending = false;
        m_callbacks.settled();
        return;
    }
    const Stage stage = *m_dirty;
    m_callbacks.renderingChanged(true);
    ++m_counters.runs;
    m_counters.lastStage = stage;

    Input input = m_callbacks.input();
    runInBackground(
        &m_pool, this,
        [take = std::move(input.take), stems = m_stems, stripsKnown = std::move(input.stripsKnown),
         stage, spans = std::move(input.spans), current = m_processedAudio,
         token = m_stop.get_token(), cache = m_trackCache] {
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
        [this, run](RunOutput out) { finish(run, std::move(out)); });
}

void EditorPipeline::finish(int run, RunOutput out) {
    // Stems are kept whatever became of the run: a file is extracted once per model.
    if (out.stems) {
        for (const auto& [file, list] : out.stems->stems)
            m_stems[file] = list;
        if (!out.cancelled && run == m_run)
            m_callbacks.stemsRead(*out.stems);
    }
    if (run != m_run || out.cancelled) {
        // A newer change took over; its run follows. A mix made for nothing goes.
        if (out.mix)
            discardFiles({out.mix->path});
        ++m_counters.cancelled;
        if (run == m_run) { // cancelled without a newer run: stopped
            m_pending = false;
            m_callbacks.settled();
        }
        return;
    }
    if (out.error) {
        ++m_counters.failed;
        m_callbacks.error(*out.error);
        m_callbacks.renderingChanged(false);
        m_pending = false;
        m_callbacks.settled();
        return;
    }
    if (out.mix) {
        if (m_processedAudio)
            m_staleFiles << *m_processedAudio;
        m_processedAudio = out.mix->path;
        m_callbacks.normalizeGainChanged(out.mix->analysis.normalizeGainDB);
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
        m_callbacks.error(QStringLiteral(
            "The preview couldn't be built for this edit. Undo the last change (Ctrl+Z)."));
    }
    m_callbacks.load(result, out.spans,
                     out.mix ? Player::MixInMemory{out.mix->path, out.mix->samples}
                             : Player::MixInMemory{});
    discardFiles(std::exchange(m_staleFiles, {}));
    m_dirty.reset();
    m_callbacks.renderingChanged(false);
    ++m_counters.completed;
    m_pending = false;
    m_callbacks.settled();
}

void EditorPipeline::whenIdle(std::function<void()> then) {
    if (!m_pending) {
        then();
        return;
    }
    m_whenIdle.push_back(std::move(then));
}

void EditorPipeline::runWhenIdle() {
    if (m_pending)
        return;
    for (auto& then : std::exchange(m_whenIdle, {}))
        then();
}

void EditorPipeline::discardFiles(const QStringList& stale) {
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
            m_callbacks.settled();
        });
}

void EditorPipeline::useFile(const QString& file) {
    m_filesInUse.insert(file);
}

void EditorPipeline::releaseFile(const QString& file) {
    m_filesInUse.erase(m_filesInUse.find(file));
    if (!m_filesInUse.contains(file) && m_heldFiles.removeAll(file) > 0)
        discardFiles({file});
}

void EditorPipeline::adoptMonitorMix(const QString& file) {
    if (m_monitorAudio)
        discardFiles({*m_monitorAudio});
    m_monitorAudio = file;
}

} // namespace reelbox
