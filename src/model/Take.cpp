#include "model/Take.h"

#include <QDir>
#include <QFileInfo>

namespace reelbox {

QString Take::moviePath() const {
    return QDir(folder).filePath(QStringLiteral("take.mov"));
}

QString Take::infoPath() const {
    return QDir(folder).filePath(QStringLiteral("take.json"));
}

QString Take::overdubsFolder() const {
    return QDir(folder).filePath(QStringLiteral("overdubs"));
}

QString Take::folderName() const {
    return QFileInfo(folder).fileName();
}

std::optional<AudioSource> Take::audioSource(const Track& track) const {
    if (track.source.isInput())
        return AudioSource{moviePath(), 0};
    const Overdub* o = info.overdub(track.source.overdubId);
    if (!o || !isSafeOverdubFileName(o->fileName))
        return std::nullopt;
    return AudioSource{QDir(overdubsFolder()).filePath(o->fileName), o->placedStart()};
}

} // namespace reelbox
