#include "platform/Trash.h"

#include <QFile>

namespace reelbox {

bool moveToTrash(const QString& path) {
    return QFile::moveToTrash(path);
}

} // namespace reelbox
