#pragma once

#include <QString>
#include <QtGlobal>
#include <vector>

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

// The lengths a QuickTime movie's header states: the movie's (mvhd) and each track's (mdhd),
// in file order; 0 where unset. Throws Error when the header can't be read.
struct MovieHeaderDurations {
    double movieSeconds = 0;
    std::vector<double> trackSeconds;
};
MovieHeaderDurations readMovieHeaderDurations(const QString& path);
// Writes each track's length (file order) into its tkhd and mdhd, and the longest into mvhd,
// in place: a fragmented movie's header is written before its samples and says 0 otherwise.
// Throws Error.
void writeMovieHeaderDurations(const QString& path, const std::vector<double>& trackSeconds);

} // namespace reelbox
