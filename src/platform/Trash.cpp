#include "platform/Trash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace reelbox {

bool moveToTrash(const QString& path) {
    // Without the XDG data folder, Qt 6.4 sets up "files" and "info" in the current folder and
    // calls that the Trash: make the data folder first, and give up when it can't be made.
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty() || !QDir().mkpath(dataHome) || !QFileInfo(dataHome).isDir())
        return false;
    return QFile::moveToTrash(path);
}

} // namespace reelbox
