#pragma once

#include "audio/AudioProcessor.h"
#include "model/Take.h"

#include <QString>
#include <QStringList>
#include <map>
#include <vector>

namespace reelbox {

// The movies whose sound the take uses: take.mov unless it was removed, then every overdub's
// file, in overdub order.
QStringList mediaFiles(const Take& take);

// The mixer's inputs: one per track whose movie has stems and whose channel is among them,
// with the hidden parts of its lane. `stems` maps a movie path to its stems in channel order.
std::vector<AudioProcessor::TrackInput> trackInputs(const Take& take,
                                                    const std::map<QString, QStringList>& stems);

} // namespace reelbox
