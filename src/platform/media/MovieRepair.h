#pragma once

#include <QString>
#include <QtGlobal>

namespace reelbox {

struct MovieRepairResult {
    qint64 keptBytes = 0;    // the file's size now
    qint64 droppedBytes = 0; // cut off the end: an unfinished fragment
    int fragments = 0;       // complete fragments kept
};

// Cuts a fragmented QuickTime movie whose writing was interrupted back to its last complete
// fragment, so that every reader takes it as a whole movie. A complete movie is left as it
// is. Throws Error when the file can't be read or lacks a complete movie header.
MovieRepairResult repairFragmentedMovie(const QString& path);

} // namespace reelbox
