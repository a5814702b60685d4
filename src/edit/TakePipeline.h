#pragma once

#include "audio/AudioProcessor.h"
#include "audio/Waveform.h"
#include "compose/TakeComposer.h"
#include "model/Take.h"
#include "play/MixPlayback.h"

#include <QImage>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <vector>

// The work behind the editor's preview, its export and the command line, on worker threads:
// stems and waveforms, the mix, the composition. Each step takes the run's stop token.
namespace reelbox::TakePipeline {

using StemMap = std::map<QString, QStringList>; // movie path → stems in channel order

struct StemsResult {
    StemMap stems;                                      // every media file's stems
    std::map<QUuid, Waveform> waveforms;                // track id → waveform
    std::map<QUuid, std::vector<QImage>> overdubStrips; // only the newly made ones
};

// Extracts the stems of the media files `known` lacks, reads every track's waveform from them,
// and makes the filmstrips of overdubs with video that `stripsKnown` lacks. Throws Error or
// Cancelled.
StemsResult loadStems(const Take& take, const QString& cacheFolder, StemMap known,
                      const std::set<QUuid>& stripsKnown, const std::stop_token& token = {});

// Stems of every media file a track plays, extracted where missing. Throws Error or
// Cancelled.
StemMap extractStems(const Take& take, const QString& cacheFolder, StemMap known,
                     const std::stop_token& token = {},
                     const std::function<void(double)>& progress = {});

struct Mix {
    QString path;
    AudioProcessor::Analysis analysis;
    std::shared_ptr<MixSamples> samples; // the file's samples, when they were asked for
};

// Mixes the take's usable tracks over the spans into `path`; none when no track can sound or
// the spans are empty. Throws Error or Cancelled, and then leaves no file at `path`.
// With a cache, what is unchanged since the last mix is reused. With `keepSamples`, the mix
// also stays in memory, for the player.
std::optional<Mix> mix(const Take& take, const StemMap& stems, const SpanList& spans,
                       const QString& path, const std::stop_token& token = {},
                       const std::function<void(double)>& progress = {},
                       AudioProcessor::TrackCache* cache = nullptr, bool keepSamples = false);

// The take's cache folder, made on demand (a failure shows later, when a file can't be
// written there).
QString cacheFolder(const Take& take);
// A new file name in the cache folder: prefix + "-" + UUID + ".caf".
QString newAudioPath(const QString& cacheFolder, const QString& prefix);

// The export settings of the monitor mix played while an overdub is recorded.
ExportSettings monitorSettings();

// Whether a built picture is one the renderer can draw for the composition: its layers name
// video tracks that exist, it covers 0 … the composition's length, and its size is positive.
bool isValidPicture(const Composition& composition, const VideoComposition& picture);

} // namespace reelbox::TakePipeline
