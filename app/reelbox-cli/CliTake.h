#pragma once

#include "audio/AudioProcessor.h"
#include "model/Take.h"

#include <QString>
#include <functional>
#include <optional>

namespace reelbox::cli {

// The take in a folder; throws Error when it isn't a readable take.
Take loadTake(const QString& folder);

// The take's cache folder (stems, mixes), created when missing.
QString cacheFolderOf(const Take& take);

struct Mix {
    std::optional<QString> path; // none when no track can sound
    AudioProcessor::Analysis analysis;
};

// Stems of every movie, then the mix of the audible tracks over `spans` into the cache folder,
// as the editor does. `stage` hears the stage name and the fraction done.
Mix mixTake(const Take& take, const SpanList& spans, const QString& output,
            const std::function<void(const QString&, double)>& stage = {});

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
