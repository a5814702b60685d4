#pragma once

#include <QString>
#include <QUuid>
#include <compare>

namespace reelbox {

// One row of the edit timeline.
struct Lane {
    enum class Kind { mainVideo, overdubVideo, audio };

    Kind kind = Kind::mainVideo;
    QUuid id; // the overdub's id for overdubVideo, the track's id for audio

    static Lane mainVideo() { return {Kind::mainVideo, QUuid()}; }
    static Lane overdubVideo(const QUuid& overdubId) { return {Kind::overdubVideo, overdubId}; }
    static Lane audio(const QUuid& trackId) { return {Kind::audio, trackId}; }

    // Indexes EditState::hidden, EditState::laneSplits and ExportSettings::positions.
    QString key() const;

    bool operator==(const Lane& other) const { return kind == other.kind && id == other.id; }
    bool operator<(const Lane& other) const {
        if (kind != other.kind)
            return kind < other.kind;
        return id < other.id;
    }
};

} // namespace reelbox
