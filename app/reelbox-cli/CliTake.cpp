#include "CliTake.h"

#include "edit/TakePipeline.h"
#include "model/TakeLibrary.h"
#include "platform/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace reelbox::cli {

std::optional<ExportSettings::Format> formatNamed(const QString& name) {
    if (name == u"h264")
        return ExportSettings::Format::h264;
    if (name == u"hevc")
        return ExportSettings::Format::hevc;
    if (name == u"audio")
        return ExportSettings::Format::audio;
    return formatFromRaw(name);
}

Take loadTake(const QString& folder) {
    const auto take = TakeLibrary::readTake(QDir(folder).absolutePath());
    if (!take)
        throw Error(QStringLiteral("%1 is not a readable take").arg(folder));
    return *take;
}

QString cacheFolderOf(const Take& take) {
    const QString cache = QDir(TakeLibrary::defaultCacheRoot()).filePath(take.folderName());
    if (!QDir().mkpath(cache))
        throw Error(QStringLiteral("can't create the cache folder %1").arg(cache));
    return cache;
}

Mix mixTake(const Take& take, const SpanList& spans, const QString& output,
            const std::function<void(const QString&, double)>& stage, const std::stop_token& stop) {
    // The editor's own pipeline steps, so the command mixes exactly as the preview does.
    const auto stems =
        TakePipeline::extractStems(take, cacheFolderOf(take), {}, stop, [&](double f) {
            if (stage)
                stage(QStringLiteral("Extracting stems"), f);
        });
    const auto mix = TakePipeline::mix(take, stems, spans, output, stop, [&](double f) {
        if (stage)
            stage(QStringLiteral("Mixing"), f);
    });
    if (!mix)
        return {};
    return {mix->path, mix->analysis};
}

ScratchFile::~ScratchFile() {
    if (!m_path.isEmpty())
        QFile::remove(m_path);
}

QString ScratchFile::besideName(const QString& destination) {
    return QFileInfo(destination).absoluteFilePath() + u'.' +
           QUuid::createUuid().toString(QUuid::Id128).left(12) + QStringLiteral(".partial");
}

void ScratchFile::moveTo(const QString& destination) {
    std::error_code failed;
    std::filesystem::rename(QFile::encodeName(m_path).toStdString(),
                            QFile::encodeName(destination).toStdString(), failed);
    if (failed)
        throw Error(QStringLiteral("Can't save “%1”: %2.")
                        .arg(destination, QString::fromStdString(failed.message())));
    m_path.clear();
}

ProgressPrinter::ProgressPrinter() : m_terminal(isatty(fileno(stderr)) == 1) {}

void ProgressPrinter::operator()(const QString& stage, double fraction) {
    const int percent = int(std::clamp(fraction, 0.0, 1.0) * 100);
    if (stage == m_stage && percent == m_lastPercent)
        return;
    m_stage = stage;
    m_lastPercent = percent;
    const QByteArray name = stage.leftJustified(18).toUtf8();
    if (m_terminal) {
        const int filled = percent * 30 / 100;
        std::fprintf(stderr, "\r%s [%s%s] %3d%%", name.constData(),
                     std::string(size_t(filled), '#').c_str(),
                     std::string(size_t(30 - filled), ' ').c_str(), percent);
    } else {
        std::fprintf(stderr, "%s %d%%\n", name.trimmed().constData(), percent);
    }
    std::fflush(stderr);
}

void ProgressPrinter::done() {
    if (m_terminal && m_lastPercent >= 0)
        std::fprintf(stderr, "\n");
}

} // namespace reelbox::cli
