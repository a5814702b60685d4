#pragma once

#include "model/Take.h"
#include "model/TakeLibrary.h"

#include <QString>
#include <optional>
#include <vector>

namespace reelbox {

// While a take records, its folder holds "recording.json": the take record as stopping would
// write it, less the length (it says when the recording started, the camera and microphone
// names and the tracks of the channel mix), and "recording.lock", held by the recording
// process. A folder with a recording.json and no take.json is an interrupted recording.
namespace RecordingRecovery {

QString recordPath(const QString& folder);
QString lockPath(const QString& folder);

// Writes the folder's recording.json. Throws Error.
void writeRecord(const QString& folder, const TakeInfo& info);
// Removes recording.json (and the lock file) once take.json is written.
void removeRecord(const QString& folder);

// Finishes one take folder from whatever its movie holds: the movie is cut back to its last
// complete fragment and the take record saved with the movie's length, its tracks checked
// against the movie's channels, and `nameSuffix` after its name. Throws Error when nothing
// of the movie can be read.
Take finishFromMovie(TakeLibrary& library, const QString& folder, const QString& nameSuffix);

// Finishes every interrupted recording below the library's root whose recording process is
// gone; a folder whose movie holds nothing readable is removed. Reloads the library when it
// recovered anything. Returns the recovered takes.
std::vector<Take> recoverAll(TakeLibrary& library);

} // namespace RecordingRecovery

} // namespace reelbox
