#include "CliJson.h"
#include "CliTake.h"
#include "Commands.h"
#include "Output.h"

#include "compose/TakeExporter.h"
#include "platform/Cancellation.h"
#include "platform/Error.h"
#include "platform/SampleRate.h"
#include "platform/media/AudioFile.h"

#include <cmath>

namespace reelbox::cli {

using reelbox::Error;

int runMix(const Arguments& args, const std::stop_token& stop) {
    const QString folder = args.positional(0);
    const QString output = args.positional(1);
    const bool monitor = args.isSet(QStringLiteral("monitor"));
    refuseProtectedOutput(output, QStringLiteral("mix"));
    const std::optional<AudioFileFormat> format = audioFileFormatFor(output);
    if (!format)
        throw UsageError{QStringLiteral("mix writes a .caf or a .wav file")};
    TakeExporter::checkDestination(output);

    const Take take = loadTake(folder);
    const double duration = take.info.timelineDuration();
    // The monitor mix plays the whole timeline, ignoring the edit.
    const SpanList spans = monitor ? SpanList{{0, duration}} : take.info.edit.keptSpans(duration);
    ProgressPrinter printer;
    // The mixer writes CAF; beside the output until it is complete, so an existing file stays
    // until it is replaced.
    ScratchFile mixed(ScratchFile::besideName(output));
    const Mix mix = mixTake(take, spans, mixed.path(), std::ref(printer), stop);
    printer.done();
    if (!mix.path)
        throw Error(QStringLiteral("%1 has no track that can sound").arg(folder));
    throwIfCancelled(stop);
    if (*format == AudioFileFormat::wav) {
        ScratchFile wav(ScratchFile::besideName(output));
        convertAudioFile(mixed.path(), wav.path(), AudioFileFormat::wav);
        throwIfCancelled(stop);
        wav.moveTo(output);
    } else {
        mixed.moveTo(output);
    }

    qint64 frames = 0;
    for (const TimeSpan& span : spans)
        frames += qint64(std::round((span.end - span.start) * audioSampleRate));
    printLine(
        jsonObject({{QStringLiteral("peakDB"), jsonNumber(mix.analysis.peakDB)},
                    {QStringLiteral("normalizeGainDB"), jsonNumber(mix.analysis.normalizeGainDB)},
                    {QStringLiteral("frames"), jsonNumber(double(frames))}}));
    return success;
}

} // namespace reelbox::cli
