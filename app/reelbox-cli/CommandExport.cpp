#include "CliTake.h"
#include "Commands.h"
#include "Output.h"

#include "compose/CompositionFrameSource.h"
#include "compose/FrameRenderer.h"
#include "compose/TakeComposer.h"
#include "compose/TakeExporter.h"
#include "platform/Cancellation.h"
#include "platform/Error.h"

#include <QDir>
#include <QUuid>

namespace reelbox::cli {

using reelbox::Error;

int runExport(const Arguments& args, const std::stop_token& stop) {
    const QString folder = args.positional(0);
    const QString output = args.positional(1);
    std::optional<ExportSettings::Format> format;
    if (const auto name = args.value(QStringLiteral("format"))) {
        format = formatNamed(*name);
        if (!format)
            throw UsageError{QStringLiteral("--format is h264, hevc or audio")};
    }
    refuseProtectedOutput(output, QStringLiteral("export"));
    TakeExporter::checkDestination(output); // before the stems, the mix and the encoding

    const Take take = loadTake(folder);
    ExportSettings settings = take.info.exportSettings;
    if (format)
        settings.format = *format;
    const SpanList spans = take.info.edit.keptSpans(take.info.timelineDuration());

    ProgressPrinter printer;
    // The mix is this command's own: removed however the command ends.
    ScratchFile mixFile(
        QDir(cacheFolderOf(take))
            .filePath(QStringLiteral("mix-%1.caf")
                          .arg(QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper())));
    const Mix mix = mixTake(take, spans, mixFile.path(), std::ref(printer), stop);
    throwIfCancelled(stop);
    const TakeComposer::Result result = TakeComposer::build(take, spans, mix.path, settings, true);
    try {
        TakeExporter::exportTake(
            result, settings.format, output,
            [&](double f) { printer(QStringLiteral("Exporting"), f); }, stop);
    } catch (...) {
        printer.done();
        throw;
    }
    printer.done();
    printLine(QFileInfo(output).absoluteFilePath());
    return success;
}

int runFrame(const Arguments& args) {
    const QString folder = args.positional(0);
    const QString output = args.positional(1);
    bool ok = false;
    const double at = args.value(QStringLiteral("at"), {}).toDouble(&ok);
    if (!ok || at < 0)
        throw UsageError{QStringLiteral("--at needs a time in seconds, 0 or more")};
    const bool live = args.isSet(QStringLiteral("live"));

    const Take take = loadTake(folder);
    const SpanList spans = take.info.edit.keptSpans(take.info.timelineDuration());
    const TakeComposer::Result result =
        TakeComposer::build(take, spans, std::nullopt, take.info.exportSettings, true);

    CompositionFrameSource source(result.composition);
    const auto frames = source.framesAt(toTicks(at));
    const FrameLookup lookup = [&](std::int32_t id) -> const QImage* {
        auto it = frames.find(id);
        return it == frames.end() ? nullptr : &it->second;
    };
    QImage picture;
    if (live) {
        LiveSnapshot snapshot;
        snapshot.canvas = result.renderSize;
        snapshot.mirror = take.info.exportSettings.mirror;
        for (const auto& p : result.placements)
            snapshot.layers.push_back({p.trackID, p.tile, p.crop, p.sourceSize});
        const QSize size(int(result.canvasSource.width), int(result.canvasSource.height));
        picture = renderFrame(size, drawOps(snapshot, size), lookup);
    } else {
        const QSize size(int(result.renderSize.width), int(result.renderSize.height));
        picture = result.videoComposition
                      ? renderFrame(size, drawOps(*result.videoComposition), lookup)
                      : renderFrame(size, {}, lookup);
    }
    if (!picture.save(output, "PNG"))
        throw Error(QStringLiteral("can't write %1").arg(output));
    printLine(QFileInfo(output).absoluteFilePath());
    return success;
}

} // namespace reelbox::cli
