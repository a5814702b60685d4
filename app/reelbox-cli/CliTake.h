#pragma once

#include "audio/AudioProcessor.h"
#include "model/ExportSettings.h"
#include "model/Take.h"

#include <QString>
#include <functional>
#include <optional>
#include <stop_token>

namespace reelbox::cli {

// The take in a folder; throws Error when it isn't a readable take.
Take loadTake(const QString& folder);

// An export format by its short name (h264, hevc, audio) or its stored one ("MP4 · HEVC").
std::optional<ExportSettings::Format> formatNamed(const QString& name);

// The take's cache folder (stems, mixes), created when missing.
QString cacheFolderOf(const Take& take);

struct Mix {
    std::optional<QString> path; // none when no track can sound
    AudioProcessor::Analysis analysis;
};

// Stems of every movie, then the mix of the audible tracks over `spans` into the cache folder,
// as the editor does. `stage` hears the stage name and the fraction done.
Mix mixTake(const Take& take, const SpanList& spans, const QString& output,
            const std::function<void(const QString&, double)>& stage = {},
            const std::stop_token& stop = {});

// A file the command writes for a while: removed when it goes out of scope, unless it was
// moved to its final place.
class ScratchFile {
public:
    explicit ScratchFile(QString path) : m_path(std::move(path)) {}
    ~ScratchFile();
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // A name of its own beside `destination`.
    static QString besideName(const QString& destination);
    const QString& path() const { return m_path; }
    // Renames it over `destination` in one step; throws Error naming the destination.
    void moveTo(const QString& destination);

private:
    QString m_path;
};

// Progress on stderr: a bar when it is a terminal, percentage lines otherwise.
class ProgressPrinter {
public:
    ProgressPrinter();
    void operator()(const QString& stage, double fraction);
    void done();

private:
    bool m_terminal;
    QString m_stage;
    int m_lastPercent = -1;
};

} // namespace reelbox::cli
