#include "CliJson.h"
#include "Commands.h"
#include "Output.h"

#include "AudioProcessor.h"
#include "Error.h"
#include "Stems.h"
#include "TakeLibrary.h"
#include "TrackInputs.h"

#include <QDir>
#include <cstdio>
#include <unistd.h>

namespace reelbox::cli {

using reelbox::Error;

namespace {

bool stderrIsTerminal() {
    return isatty(fileno(stderr)) == 1;
}

void progressLine(const QString& stage, double fraction) {
    std::fprintf(stderr, "\r%s %3d%%", stage.toUtf8().constData(), int(fraction * 100 + 0.5));
    std::fflush(stderr);
}

} // namespace

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

    const auto take = TakeLibrary::readTake(QDir(folder).absolutePath());
    if (!take)
        throw Error(QStringLiteral("%1 is not a readable take").arg(folder));
    const QString cache = QDir(TakeLibrary::defaultCacheRoot()).filePath(take->folderName());
    if (!QDir().mkpath(cache))
        throw Error(QStringLiteral("can't create the cache folder %1").arg(cache));

    const bool terminal = stderrIsTerminal();
    std::map<QString, QStringList> stems;
    const QStringList files = mediaFiles(*take);
    for (int i = 0; i < files.size(); ++i) {
        if (terminal)
            progressLine(QStringLiteral("Extracting stems"), double(i) / files.size());
        stems[files[i]] = Stems::extract(files[i], cache);
    }

    const double duration = take->info.timelineDuration();
    const SpanList spans = monitor ? SpanList{{0, duration}} : take->info.edit.keptSpans(duration);
    const auto inputs = trackInputs(*take, stems);
    auto progress = [&](double fraction) {
        if (terminal)
            progressLine(QStringLiteral("Mixing          "), fraction);
    };
    const AudioProcessor::Analysis analysis =
        AudioProcessor::render(inputs, take->info.master, spans, output, {}, progress);
    if (terminal)
        std::fprintf(stderr, "\n");

    qint64 frames = 0;
    for (const TimeSpan& span : spans)
        frames += qint64(std::round((span.end - span.start) * 48000));
    printLine(jsonObject({{QStringLiteral("peakDB"), jsonNumber(analysis.peakDB)},
                          {QStringLiteral("normalizeGainDB"), jsonNumber(analysis.normalizeGainDB)},
                          {QStringLiteral("frames"), jsonNumber(double(frames))}}));
    return success;
}

} // namespace reelbox::cli
