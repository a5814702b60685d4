#pragma once

#include "compose/Composition.h"
#include "compose/Geometry.h"
#include "compose/LiveLayout.h"

#include <QImage>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <vector>

namespace reelbox {

// One layer to draw: the crop of a track's frame, mirrored within the crop if asked, scaled
// onto the destination rectangle of the output (output pixels, origin top-left, y down).
struct DrawOp {
    std::int32_t trackID = 0;
    RectD crop;        // source pixels
    RectD destination; // output pixels
    bool mirror = false;
    bool operator==(const DrawOp&) const = default;
};

std::ostream& operator<<(std::ostream& out, const DrawOp& op);

// The preview's picture: the canvas fitted into the output with its aspect kept and centred,
// the layers in snapshot order (each over the ones before). Nothing for an empty canvas.
std::vector<DrawOp> drawOps(const LiveSnapshot& snapshot, QSize output);

// The export's picture on an output of the render size: each layer's crop mapped by its
// transform (a negative x scale mirrors), the list drawn back to front so its first layer
// ends on top. Transforms are expected to be scale, translation and a horizontal flip.
std::vector<DrawOp> drawOps(const VideoComposition& composition);

// The decoded frame of a track at the time drawn, or null when the track has none.
// The part of each track's frame that the ops draw, with a pixel to spare for the filter's
// reach; tracks without an op have no entry (they need not be decoded).
std::map<std::int32_t, QRect> drawnRegions(const std::vector<DrawOp>& ops);

using FrameLookup = std::function<const QImage*(std::int32_t trackID)>;

// Draws the ops into `output` (made Format_RGB32 if it is not a 32-bit format): black, then
// each op whose track has a frame, opaque, in order. Missing frames skip their layer.
//
// Edges: a destination edge at e snaps to pixel boundary floor(e + 0.5), so a pixel is
// covered when its centre lies inside the rectangle and tiles that share an edge neither
// overlap nor leave a gap. The crop is mapped exactly onto the snapped rectangle.
// Scaling is separable, per axis: bilinear between pixel centres when enlarging, the average
// of the source area under each output pixel when shrinking (a box filter, so fine detail
// averages out instead of shimmering). It never reads outside the crop; a crop hanging off
// the frame repeats the frame's edge. A 1:1 layer on whole pixels is copied.
//
// Frames should be RGB32 or ARGB32 (any other format is converted first, slowly); alpha is
// ignored. Safe to call from several threads at once.
void renderFrame(QImage& output, const std::vector<DrawOp>& ops, const FrameLookup& frameFor);
QImage renderFrame(QSize output, const std::vector<DrawOp>& ops, const FrameLookup& frameFor);

} // namespace reelbox
