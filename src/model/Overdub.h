#pragma once

#include <QDateTime>
#include <QString>
#include <QUuid>
#include <optional>

namespace reelbox {

// A recording made later while the take played.
struct Overdub {
    QUuid id;
    QString fileName; // movie file inside the take's "overdubs" folder
    QDateTime createdAt;
    double start = 0;    // take time at which the recording begins
    double nudge = 0;    // timing correction added to start
    double duration = 0; // length of the recording
    bool hasVideo = false;
    bool showVideo = true;
    std::optional<QString> audioDeviceID;

    // Take time at which the overdub's first frame sounds.
    double placedStart() const { return start + nudge; }
    double placedEnd() const { return start + nudge + duration; }

    bool operator==(const Overdub&) const = default;
};

// A file name that stays inside the "overdubs" folder: not empty, no separators, not "." or "..".
bool isSafeOverdubFileName(const QString& fileName);

} // namespace reelbox
