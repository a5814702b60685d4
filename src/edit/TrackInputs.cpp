#include "edit/TrackInputs.h"

#include <QDir>

namespace reelbox {

QStringList mediaFiles(const Take& take) {
    QStringList files;
    if (!take.info.mainRemoved)
        files << take.moviePath();
    for (const Overdub& o : take.info.overdubs)
        if (isSafeOverdubFileName(o.fileName))
            files << QDir(take.overdubsFolder()).filePath(o.fileName);
    return files;
}

std::vector<AudioProcessor::TrackInput> trackInputs(const Take& take,
                                                    const std::map<QString, QStringList>& stems) {
    std::vector<AudioProcessor::TrackInput> inputs;
    for (const Track& track : take.info.tracks) {
        const auto source = take.audioSource(track);
        if (!source)
            continue;
        const auto it = stems.find(source->path);
        if (it == stems.end())
            continue;
        const qint64 channel = track.source.channel;
        if (channel < 0 || channel >= it->second.size())
            continue;
        inputs.push_back({it->second[channel], source->start, track,
                          take.info.edit.hiddenParts(Lane::audio(track.id))});
    }
    return inputs;
}

} // namespace reelbox
