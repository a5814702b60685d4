#include "model/TrackEffects.h"

namespace reelbox {

QString rawString(ReverbRoom room) {
    switch (room) {
    case ReverbRoom::smallRoom:
        return QStringLiteral("Small Room");
    case ReverbRoom::mediumRoom:
        return QStringLiteral("Medium Room");
    case ReverbRoom::largeRoom:
        return QStringLiteral("Large Room");
    case ReverbRoom::hall:
        return QStringLiteral("Hall");
    case ReverbRoom::largeHall:
        return QStringLiteral("Large Hall");
    case ReverbRoom::plate:
        return QStringLiteral("Plate");
    case ReverbRoom::cathedral:
        return QStringLiteral("Cathedral");
    }
    return {};
}

std::optional<ReverbRoom> reverbRoomFromRaw(const QString& raw) {
    for (ReverbRoom room : allReverbRooms)
        if (rawString(room) == raw)
            return room;
    return std::nullopt;
}

} // namespace reelbox
