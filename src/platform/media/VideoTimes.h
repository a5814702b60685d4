#pragma once

#include <QString>
#include <vector>

namespace reelbox {

// The presentation time of every picture of the movie's first video track, in seconds on the
// file's time line, in presentation order. Reads the packets without decoding them. Throws
// Error when the file can't be read or has no video.
std::vector<double> videoFrameTimes(const QString& path);
// The same, for the pictures that start a group (key frames) alone.
std::vector<double> videoKeyFrameTimes(const QString& path);

} // namespace reelbox
