#pragma once

#include "compose/Composition.h"
#include "compose/LiveLayout.h"
#include "model/ExportSettings.h"
#include "model/Lane.h"
#include "model/Take.h"

#include <QString>
#include <optional>
#include <vector>

namespace reelbox::TakeComposer {

// Where one video is drawn.
struct Placement {
    Lane lane;
    std::int32_t trackID = 0;
    RectD tile;       // the canvas rectangle it fills
    RectD crop;       // the part of the source frame shown, source pixels
    SizeD sourceSize; // the source track's natural size
    bool operator==(const Placement&) const = default;
};

// A video layer of the composition, drawn or not.
struct VideoSource {
    std::int32_t trackID = 0;
    Lane lane;
    SizeD size;
    bool operator==(const VideoSource&) const = default;
};

struct Result {
    Composition composition;
    std::optional<VideoComposition> videoComposition; // none without video or duration
    SizeD renderSize;                                 // the canvas
    SizeD canvasSource;                               // what the canvas was cut from
    std::vector<Placement> placements;                // drawn videos, in drawing-list order
    std::vector<VideoSource> videoSources;            // every video layer, in layer order
};

struct Picture {
    VideoComposition videoComposition;
    std::vector<Placement> placements;
};

// Lays the played spans end to end: the main video and (when asked) the overdub videos cut to
// the spans minus what is hidden on their lanes, the processed sound as the one audio track,
// and the picture layout. Throws Error when a movie or the audio file can't be read.
Result build(const Take& take, const SpanList& spans, const std::optional<QString>& audioPath,
             const ExportSettings& settings, bool includeOverdubVideo);

// The picture for the given sources; also used to refresh it without rebuilding.
Picture picture(const std::vector<VideoSource>& sources, const TakeInfo& info, SizeD canvasSource,
                const ExportSettings& settings, Ticks duration);

// What the live picture draws for these placements: one layer each, in their order, on the
// canvas, mirrored or not. The editor's preview and the overdub's monitor both use it.
LiveSnapshot liveSnapshot(SizeD canvas, const std::vector<Placement>& placements, bool mirror);

// The sources that are drawn, in the given order.
std::vector<VideoSource> visible(const std::vector<VideoSource>& sources, const TakeInfo& info,
                                 const ExportSettings& settings);

// Width / height of the canvas for an aspect; none keeps the source's own.
std::optional<double> aspectRatio(ExportSettings::Aspect aspect);

// The largest rectangle of the ratio inside the source, slid by the position (-1 … +1).
RectD cropRect(SizeD source, std::optional<double> ratio, ExportSettings::Position position);

// The tiles of a layout for `count` drawn sources with the given natural sizes.
std::vector<RectD> layout(int count, SizeD canvas, ExportSettings::VideoLayout style,
                          const std::vector<SizeD>& sizes);

// 2 × floor(x / 2).
double even(double x);

} // namespace reelbox::TakeComposer
