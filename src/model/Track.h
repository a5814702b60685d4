#pragma once

#include "model/TrackEffects.h"

#include <QString>
#include <QUuid>

namespace reelbox {

// One mono audio track of a take.
struct Track {
    // Where the sound comes from: a channel of take.mov or of an overdub's movie.
    struct Source {
        enum class Kind { input, overdub };

        Kind kind = Kind::input;
        qint64 channel = 0; // 0-based channel of the movie; may name none (left out of the mix)
        QUuid overdubId;    // only for Kind::overdub

        static Source input(qint64 channel) { return {Kind::input, channel, QUuid()}; }
        static Source overdub(const QUuid& id, qint64 channel) {
            return {Kind::overdub, channel, id};
        }

        bool isInput() const { return kind == Kind::input; }
        bool isOverdub(const QUuid& id) const { return kind == Kind::overdub && overdubId == id; }
        bool operator==(const Source&) const = default;
    };

    QUuid id;
    QString name;
    Source source;
    bool muted = false;
    bool solo = false;
    double volumeDB = 0;
    double pan = 0;
    TrackEffects effects;

    bool operator==(const Track&) const = default;
};

// The recorder's per-input-channel setting.
struct ChannelMix {
    bool enabled = true;
    double gainDB = 0;
    double pan = 0;

    bool operator==(const ChannelMix&) const = default;
};

} // namespace reelbox
