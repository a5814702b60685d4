#pragma once

#include "model/TakeInfo.h"

#include <QString>
#include <optional>

namespace reelbox {

// Where a track's sound comes from on disk, and the take time its first frame sounds at.
struct AudioSource {
    QString path;
    double start = 0;
    bool operator==(const AudioSource&) const = default;
};

// One take as the library holds it; the folder is its identity.
struct Take {
    QString folder; // absolute path of the take folder
    TakeInfo info;

    QString moviePath() const;      // folder/take.mov
    QString infoPath() const;       // folder/take.json
    QString overdubsFolder() const; // folder/overdubs
    QString folderName() const;
    std::optional<AudioSource> audioSource(const Track& track) const;

    bool operator==(const Take&) const = default;
};

} // namespace reelbox
