#include "model/TakeInfo.h"

#include <algorithm>

namespace reelbox {

double TakeInfo::timelineDuration() const {
    double result = mainRemoved ? 0 : duration;
    for (const Overdub& o : overdubs)
        result = std::max(result, o.placedEnd());
    return result;
}

const Overdub* TakeInfo::overdub(const QUuid& id) const {
    for (const Overdub& o : overdubs)
        if (o.id == id)
            return &o;
    return nullptr;
}

std::vector<Track> TakeInfo::tracksFrom(const std::vector<ChannelMix>& channels,
                                        const TrackEffects& effects) {
    std::vector<Track> result;
    for (size_t i = 0; i < channels.size(); ++i) {
        const ChannelMix& channel = channels[i];
        if (!channel.enabled)
            continue;
        Track track;
        track.id = QUuid::createUuid();
        track.name =
            channels.size() == 1 ? QStringLiteral("Sound") : QStringLiteral("Input %1").arg(i + 1);
        track.source = Track::Source::input(int(i));
        track.volumeDB = channel.gainDB;
        track.effects = effects;
        result.push_back(track);
    }
    return result;
}

} // namespace reelbox
