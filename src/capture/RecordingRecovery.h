#pragma once

#include "model/Take.h"
#include "model/TakeLibrary.h"
#include "platform/Error.h"

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

// Thrown by finishFromMovie when the folder's movie has no header or no media: nothing of
// the recording can be played, and the folder may go.
class NothingRecorded : public Error {
public:
    using Error::Error;
};

// Finishes one take folder from whatever its movie holds: the movie is cut back to its last
// complete fragment, its header given the length, and the take record saved with the movie's
// length, its tracks checked against the movie's channels, and `nameSuffix` after its name;
// recording.json goes only once take.json reads back. Throws NothingRecorded when nothing of
// the movie can be read, Error when it can't be finished now (the folder stays as it was).
Take finishFromMovie(TakeLibrary& library, const QString& folder, const QString& nameSuffix);

// What recoverAll did with each interrupted recording.
struct RecoveryReport {
    std::vector<Take> recovered;
    std::vector<QString> removed; // nothing of it could be read
    struct Failure {
        QString folder;
        QString message;
    };
    std::vector<Failure> failed;  // kept as it was, for a later try
    std::vector<QString> skipped; // still being recorded by another process
};

// Finishes every interrupted recording below the library's root whose recording process is
// gone; a folder whose movie holds nothing readable is removed, one that can't be finished
// now is kept. Reloads the library when it recovered anything.
RecoveryReport recoverAll(TakeLibrary& library);

} // namespace RecordingRecovery

} // namespace reelbox
