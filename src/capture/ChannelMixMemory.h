#pragma once

#include "model/Track.h"

#include <QString>
#include <vector>

namespace reelbox {

// The channel mix remembered per microphone, under "mix.<id>" in the user's settings: the stored
// one when it has `channelCount` channels, else every channel on at 0 dB, centred.
std::vector<ChannelMix> rememberedChannelMix(const QString& microphoneID, int channelCount);
// Stores it; a mix that can't be written is simply not remembered.
void rememberChannelMix(const QString& microphoneID, const std::vector<ChannelMix>& channels);

} // namespace reelbox
