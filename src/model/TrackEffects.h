#pragma once

#include <QString>
#include <array>
#include <optional>

namespace reelbox {

enum class ReverbRoom { smallRoom, mediumRoom, largeRoom, hall, largeHall, plate, cathedral };

// All rooms in the order a chooser offers them.
inline constexpr std::array<ReverbRoom, 7> allReverbRooms = {
    ReverbRoom::smallRoom, ReverbRoom::mediumRoom, ReverbRoom::largeRoom, ReverbRoom::hall,
    ReverbRoom::largeHall, ReverbRoom::plate,      ReverbRoom::cathedral};

// The stored string, which is also the name shown for the room.
QString rawString(ReverbRoom room);
std::optional<ReverbRoom> reverbRoomFromRaw(const QString& raw);

struct TrackEffects {
    bool eqEnabled = false;
    bool lowCut = false;
    double lowGain = 0;
    double midGain = 0;
    double midFrequency = 800;
    double highGain = 0;
    bool compressorEnabled = false;
    double compression = 0.4;
    double reverbSend = 0;
    ReverbRoom reverbRoom = ReverbRoom::mediumRoom;

    bool operator==(const TrackEffects&) const = default;
};

struct MasterSettings {
    double volumeDB = 0;
    bool normalize = true;

    bool operator==(const MasterSettings&) const = default;
};

} // namespace reelbox
