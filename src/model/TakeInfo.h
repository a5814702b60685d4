#pragma once

#include "model/EditState.h"
#include "model/ExportSettings.h"
#include "model/Overdub.h"
#include "model/Track.h"
#include "model/TrackEffects.h"

#include <QDateTime>
#include <QString>
#include <optional>
#include <vector>

namespace reelbox {

// The persisted record of a take: the contents of take.json.
struct TakeInfo {
    QString name;
    QDateTime createdAt;
    double duration = 0; // length of take.mov
    std::optional<QString> cameraName;
    std::optional<QString> audioDeviceName;
    std::vector<Track> tracks;
    std::vector<Overdub> overdubs;
    bool showMainVideo = true;
    bool mainRemoved = false;
    MasterSettings master;
    EditState edit;
    ExportSettings exportSettings;

    // The longer of the main recording (0 once removed) and the latest overdub end.
    double timelineDuration() const;
    const Overdub* overdub(const QUuid& id) const;

    // One track per enabled channel, named "Sound" or "Input n" after the channel's number.
    static std::vector<Track> tracksFrom(const std::vector<ChannelMix>& channels,
                                         const TrackEffects& effects);

    bool operator==(const TakeInfo&) const = default;
};

} // namespace reelbox
