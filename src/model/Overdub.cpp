#include "model/Overdub.h"

namespace reelbox {

bool isSafeOverdubFileName(const QString& fileName) {
    if (fileName.isEmpty() || fileName == u"." || fileName == u"..")
        return false;
    return !fileName.contains(u'/') && !fileName.contains(u'\\') && !fileName.contains(QChar(0));
}

} // namespace reelbox
