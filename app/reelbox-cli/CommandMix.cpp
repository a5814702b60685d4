#include "CliJson.h"
#include "CliTake.h"
#include "Commands.h"
#include "Output.h"

#include "platform/Error.h"

#include <cmath>

namespace reelbox::cli {

using reelbox::Error;

int runMix(const QStringList& args) {
    QString folder, output;
    bool monitor = false;
    for (const QString& a : args) {
        if (a == u"--monitor")
            monitor = true;
        else if (a.startsWith(u"--"))
            throw UsageError{QStringLiteral("mix: unexpected argument \"%1\"").arg(a)};
        else if (folder.isEmpty())
            folder = a;
        else if (output.isEmpty())
            output = a;
        else
            throw UsageError{QStringLiteral("mix: unexpected argument \"%1\"").arg(a)};
    }
    if (folder.isEmpty() || output.isEmpty())
        throw UsageError{QStringLiteral("mix needs a take folder and an output file")};

    const Take take = loadTake(folder);
    const double duration = take.info.timelineDuration();
    // The monitor mix plays the whole timeline, ignoring the edit.
    const SpanList spans = monitor ? SpanList{{0, duration}} : take.info.edit.keptSpans(duration);
    ProgressPrinter printer;
    const Mix mix = mixTake(take, spans, output, std::ref(printer));
    printer.done();
    if (!mix.path)
        throw Error(QStringLiteral("%1 has no track that can sound").arg(folder));

    qint64 frames = 0;
    for (const TimeSpan& span : spans)
        frames += qint64(std::round((span.end - span.start) * 48000));
    printLine(
        jsonObject({{QStringLiteral("peakDB"), jsonNumber(mix.analysis.peakDB)},
                    {QStringLiteral("normalizeGainDB"), jsonNumber(mix.analysis.normalizeGainDB)},
                    {QStringLiteral("frames"), jsonNumber(double(frames))}}));
    return success;
}

} // namespace reelbox::cli
