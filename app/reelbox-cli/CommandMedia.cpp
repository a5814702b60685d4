#include "CliJson.h"
#include "Commands.h"
#include "Output.h"

#include "audio/Filmstrip.h"
#include "audio/Stems.h"
#include "audio/Waveform.h"
#include "capture/SyntheticTake.h"
#include "model/TakeLibrary.h"
#include "platform/Error.h"

#include <QDir>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace reelbox::cli {

using reelbox::Error;

namespace {

constexpr double maximumStartSeconds = 24 * 60 * 60;
constexpr int maximumFilmstripCount = 1000;
constexpr double maximumFilmstripHeight = 4096;

} // namespace

int runSynthTake(const Arguments& args, const std::stop_token& stop) {
    const QString root = args.value(QStringLiteral("root"), {});
    SyntheticTakeOptions options;
    options.seconds = args.number(QStringLiteral("seconds"), 0.1).value_or(options.seconds);
    options.channels = args.wholeNumber(QStringLiteral("channels"), 1).value_or(options.channels);
    options.overdubs = args.wholeNumber(QStringLiteral("overdubs"), 0).value_or(options.overdubs);
    options.audioOnlyOverdubs = args.isSet(QStringLiteral("audio-only-overdubs"));
    if (const auto size = args.value(QStringLiteral("size"))) {
        static const QRegularExpression pattern(QStringLiteral("^(\\d+)x(\\d+)$"));
        const auto m = pattern.match(*size);
        if (!m.hasMatch() || m.captured(1).toInt() < 16 || m.captured(2).toInt() < 16)
            throw UsageError{QStringLiteral("--size needs WIDTHxHEIGHT, at least 16x16")};
        options.size = QSize(m.captured(1).toInt(), m.captured(2).toInt());
    }
    TakeLibrary library(root.isEmpty() ? TakeLibrary::defaultRoot() : root);
    const Take take = makeSyntheticTake(library, options, stop);
    printLine(take.folder);
    return success;
}

int runStems(const Arguments& args, const std::stop_token& stop) {
    const QString movie = args.positional(0);
    const QString cache = args.value(QStringLiteral("cache"), {});
    if (cache.isEmpty())
        throw UsageError{QStringLiteral("stems needs a movie and --cache DIR")};
    if (!QDir().mkpath(cache))
        throw Error(QStringLiteral("can't create the cache folder %1").arg(cache));
    for (const QString& stem : Stems::extract(movie, cache, stop))
        printLine(stem);
    return success;
}

int runWaveform(const Arguments& args, const std::stop_token& stop) {
    const QString stem = args.positional(0);
    double start = 0;
    if (const auto text = args.value(QStringLiteral("start"))) {
        bool ok = false;
        start = text->toDouble(&ok);
        if (!ok || !std::isfinite(start) || std::abs(start) > maximumStartSeconds)
            throw UsageError{
                QStringLiteral("--start needs a number of seconds within a day either way")};
    }
    const bool json = args.isSet(QStringLiteral("json"));
    const Waveform waveform = Waveform::load(stem, start, stop);
    if (json) {
        QStringList peaks;
        peaks.reserve(qsizetype(waveform.peaks.size()));
        for (float p : waveform.peaks)
            peaks << jsonNumber(double(p));
        printLine(
            jsonObject({{QStringLiteral("bucketDuration"), jsonNumber(waveform.bucketDuration)},
                        {QStringLiteral("peaks"), jsonArray(peaks)}}));
    } else {
        const float maximum = waveform.peaks.empty()
                                  ? 0
                                  : *std::max_element(waveform.peaks.begin(), waveform.peaks.end());
        printLine(QStringLiteral("peaks %1\nmaximum %2\nduration %3")
                      .arg(waveform.peaks.size())
                      .arg(double(maximum), 0, 'g', 6)
                      .arg(double(waveform.peaks.size()) * waveform.bucketDuration, 0, 'f', 2));
    }
    return success;
}

int runFilmstrip(const Arguments& args, const std::stop_token& stop) {
    const QString movie = args.positional(0);
    const QString out = args.value(QStringLiteral("out"), {});
    const int count = args.wholeNumber(QStringLiteral("count"), 1).value_or(0);
    if (count > maximumFilmstripCount)
        throw UsageError{QStringLiteral("--count is at most %1").arg(maximumFilmstripCount)};
    const double height = args.number(QStringLiteral("height"), 1).value_or(0);
    if (height > maximumFilmstripHeight)
        throw UsageError{QStringLiteral("--height is at most %1").arg(maximumFilmstripHeight)};
    if (out.isEmpty())
        throw UsageError{
            QStringLiteral("filmstrip needs a movie, --count N, --height H and --out DIR")};
    if (!QDir().mkpath(out))
        throw Error(QStringLiteral("can't create %1").arg(out));
    // Each picture is saved as soon as it is made.
    const int made = Filmstrip::eachFrame(
        movie, count, height,
        [&](int index, const QImage& image) {
            const QString path =
                QDir(out).filePath(QStringLiteral("frame-%1.png").arg(index, 2, 10, QChar(u'0')));
            if (!image.save(path, "PNG"))
                throw Error(QStringLiteral("can't write %1").arg(path));
            printLine(path);
        },
        stop);
    if (made == 0)
        throw Error(QStringLiteral("no picture could be made from %1").arg(movie));
    return success;
}

int runThumbnail(const Arguments& args) {
    const QString folder = args.positional(0);
    const auto take = TakeLibrary::readTake(QDir(folder).absolutePath());
    if (!take)
        throw Error(QStringLiteral("%1 is not a readable take").arg(folder));
    if (!Filmstrip::ensureThumbnail(*take))
        throw Error(QStringLiteral("no picture could be made for %1").arg(folder));
    printLine(QDir(take->folder).filePath(QStringLiteral("thumbnail.jpg")));
    return success;
}

} // namespace reelbox::cli
