#pragma once

#include "model/TakeInfo.h"
#include "platform/Error.h"

#include <QByteArray>
#include <vector>

namespace reelbox {

// A take.json (or channel list) that cannot be read; the message names what failed.
class DecodeError : public Error {
public:
    using Error::Error;
};

// take.json: pretty-printed, keys sorted, upper-case UUIDs, UTC dates with whole seconds.
// Throws Error when a number is not finite (JSON cannot hold it).
QByteArray encodeTakeInfo(const TakeInfo& info);

// Reads take.json, current or older form; damaged parts fall back to their defaults.
// Throws DecodeError when the record as a whole is unreadable.
TakeInfo decodeTakeInfo(const QByteArray& json);

// One track object of take.json. Throws DecodeError.
Track decodeTrack(const QByteArray& json);

// The recorder's channel list, in the form take.json's older files carry it.
QByteArray encodeChannelMixes(const std::vector<ChannelMix>& channels);
std::vector<ChannelMix> decodeChannelMixes(const QByteArray& json);

} // namespace reelbox
