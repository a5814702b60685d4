#include "Commands.h"

#include "model/TakeLibrary.h"

#include <QDir>
#include <QFileInfo>

namespace reelbox::cli {

namespace {

// The places a write to `path` can land: the path with the links of its folders resolved,
// and where a link at the path itself points.
QStringList landingPlaces(const QString& path) {
    const QFileInfo info(path);
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    QStringList places{folder.isEmpty() ? info.absoluteFilePath()
                                        : QDir(folder).filePath(info.fileName())};
    if (info.isSymLink())
        places << QFileInfo(info.symLinkTarget()).absoluteFilePath();
    if (const QString canonical = info.canonicalFilePath(); !canonical.isEmpty())
        places << canonical;
    return places;
}

bool isInside(const QString& path, const QString& folder) {
    return !folder.isEmpty() && (path == folder || path.startsWith(folder + u'/'));
}

} // namespace

void refuseProtectedOutput(const QString& output, const QString& command) {
    const QString cacheRoot = TakeLibrary::defaultCacheRoot();
    const QString cache = QFileInfo(cacheRoot).canonicalFilePath();
    for (const QString& place : landingPlaces(output)) {
        if (isInside(place, cache) || isInside(place, QDir::cleanPath(cacheRoot)))
            throw UsageError{QStringLiteral("%1: won't write “%2”: it is inside Reelbox's cache")
                                 .arg(command, output)};
        for (QDir dir(place);;) {
            if (QFileInfo::exists(dir.filePath(QStringLiteral("take.json"))))
                throw UsageError{
                    QStringLiteral("%1: won't write “%2”: it is inside the take folder “%3”")
                        .arg(command, output, dir.path())};
            if (dir.isRoot() || !dir.cdUp())
                break;
        }
    }
}

} // namespace reelbox::cli
