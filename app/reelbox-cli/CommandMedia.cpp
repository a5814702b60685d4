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

double numberValue(const QStringList& args, int& index, double minimum) {
    const QString option = args[index];
    bool ok = false;
    const double value = optionValue(args, index).toDouble(&ok);
    if (!ok || !(value >= minimum))
        throw UsageError{
            QStringLiteral("%1 needs a number of at least %2").arg(option).arg(minimum)};
    return value;
}

int intValue(const QStringList& args, int& index, int minimum) {
    const QString option = args[index];
    bool ok = false;
    const int value = optionValue(args, index).toInt(&ok);
    if (!ok || value < minimum)
        throw UsageError{
            QStringLiteral("%1 needs a whole number of at least %2").arg(option).arg(minimum)};
    return value;
}

QString positional(QString& slot, const QString& arg, const char* command) {
    if (!slot.isEmpty() || arg.startsWith(u"--"))
        throw UsageError{QStringLiteral("%1: unexpected argument \"%2\"").arg(command, arg)};
    return arg;
}

} // namespace

int runSynthTake(const QStringList& args, const std::stop_token& stop) {
    QString root;
    SyntheticTakeOptions options;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == u"--root") {
            root = optionValue(args, i);
        } else if (a == u"--seconds") {
            options.seconds = numberValue(args, i, 0.1);
        } else if (a == u"--channels") {
            options.channels = intValue(args, i, 1);
        } else if (a == u"--overdubs") {
            options.overdubs = intValue(args, i, 0);
        } else if (a == u"--audio-only-overdubs") {
            options.audioOnlyOverdubs = true;
        } else if (a == u"--size") {
            static const QRegularExpression pattern(QStringLiteral("^(\\d+)x(\\d+)$"));
            const auto m = pattern.match(optionValue(args, i));
            if (!m.hasMatch() || m.captured(1).toInt() < 16 || m.captured(2).toInt() < 16)
                throw UsageError{QStringLiteral("--size needs WIDTHxHEIGHT, at least 16x16")};
            options.size = QSize(m.captured(1).toInt(), m.captured(2).toInt());
        } else {
            throw UsageError{QStringLiteral("synth-take: unexpected argument \"%1\"").arg(a)};
        }
    }
    TakeLibrary library(root.isEmpty() ? TakeLibrary::defaultRoot() : root);
    const Take take = makeSyntheticTake(library, options, stop);
    printLine(take.folder);
    return success;
}

int runStems(const QStringList& args, const std::stop_token& stop) {
    QString movie, cache;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == u"--cache")
            cache = optionValue(args, i);
        else
            movie = positional(movie, args[i], "stems");
    }
    if (movie.isEmpty() || cache.isEmpty())
        throw UsageError{QStringLiteral("stems needs a movie and --cache DIR")};
    if (!QDir().mkpath(cache))
        throw Error(QStringLiteral("can't create the cache folder %1").arg(cache));
    for (const QString& stem : Stems::extract(movie, cache, stop))
        printLine(stem);
    return success;
}

int runWaveform(const QStringList& args, const std::stop_token& stop) {
    QString stem;
    double start = 0;
    bool json = false;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == u"--start") {
            bool ok = false;
            start = optionValue(args, i).toDouble(&ok);
            if (!ok || !std::isfinite(start) || std::abs(start) > maximumStartSeconds)
                throw UsageError{
                    QStringLiteral("--start needs a number of seconds within a day either way")};
        } else if (args[i] == u"--json") {
            json = true;
        } else {
            stem = positional(stem, args[i], "waveform");
        }
    }
    if (stem.isEmpty())
        throw UsageError{QStringLiteral("waveform needs a stem file")};
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

int runFilmstrip(const QStringList& args, const std::stop_token& stop) {
    QString movie, out;
    int count = 0;
    double height = 0;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == u"--count") {
            count = intValue(args, i, 1);
            if (count > maximumFilmstripCount)
                throw UsageError{
                    QStringLiteral("--count is at most %1").arg(maximumFilmstripCount)};
        } else if (args[i] == u"--height") {
            height = numberValue(args, i, 1);
            if (height > maximumFilmstripHeight)
                throw UsageError{
                    QStringLiteral("--height is at most %1").arg(maximumFilmstripHeight)};
        } else if (args[i] == u"--out") {
            out = optionValue(args, i);
        } else {
            movie = positional(movie, args[i], "filmstrip");
        }
    }
    if (movie.isEmpty() || out.isEmpty() || count < 1 || height < 1)
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

int runThumbnail(const QStringList& args) {
    QString folder;
    for (const QString& a : args)
        folder = positional(folder, a, "thumbnail");
    if (folder.isEmpty())
        throw UsageError{QStringLiteral("thumbnail needs a take folder")};
    const auto take = TakeLibrary::readTake(QDir(folder).absolutePath());
    if (!take)
        throw Error(QStringLiteral("%1 is not a readable take").arg(folder));
    if (!Filmstrip::ensureThumbnail(*take))
        throw Error(QStringLiteral("no picture could be made for %1").arg(folder));
    printLine(QDir(take->folder).filePath(QStringLiteral("thumbnail.jpg")));
    return success;
}

} // namespace reelbox::cli
