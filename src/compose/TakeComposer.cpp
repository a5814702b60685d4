#include "compose/TakeComposer.h"

#include "platform/media/MovieInfo.h"

#include <QDir>
#include <algorithm>
#include <cmath>

namespace reelbox::TakeComposer {

namespace {

constexpr SizeD fallbackCanvasSource{1920, 1080};
constexpr double pipMarginFraction = 0.04;
constexpr double pipWidthLandscape = 0.3;
constexpr double pipWidthPortrait = 0.42;
constexpr double smallestCrop = 2;

struct VideoLayer {
    std::int32_t trackID;
    SizeD naturalSize;
    Lane lane;
};

// Cuts the hidden parts out of a span.
SpanList withoutHidden(const TimeSpan& span, const SpanList& hidden) {
    SpanList pieces{span};
    for (const TimeSpan& h : hidden)
        pieces = EditState::subtract(h, pieces);
    return pieces;
}

// Adds the first video track of a movie, cut to the spans; none when it has no video.
std::optional<VideoLayer> addVideo(Composition& composition, const QString& path, double start,
                                   const SpanList& spans, const SpanList& hidden,
                                   const Lane& lane) {
    const MovieInfo movie = probeMovie(path);
    if (movie.video.empty())
        return std::nullopt;
    const VideoTrackInfo& video = movie.video.front();
    const std::int32_t trackID = composition.addTrack(CompositionTrack::Kind::video);
    const Ticks sourceStart = toTicks(video.startSeconds);
    const Ticks sourceEnd = sourceStart + toTicks(video.durationSeconds);
    const Ticks offset = toTicks(start);

    Ticks cursor = 0;
    for (const TimeSpan& span : spans) {
        const Ticks spanStart = toTicks(span.start);
        const Ticks spanEnd = toTicks(span.end);
        for (const TimeSpan& piece : withoutHidden(span, hidden)) {
            const Ticks from = std::max(toTicks(piece.start) - offset, sourceStart);
            const Ticks to = std::min(toTicks(piece.end) - offset, sourceEnd);
            if (to > from)
                composition.insert(
                    trackID, {path, 0, from, to - from, cursor + (from - (spanStart - offset))});
        }
        cursor += spanEnd - spanStart;
    }
    return VideoLayer{
        trackID, {double(video.naturalSize.width()), double(video.naturalSize.height())}, lane};
}

double positionFactor(double p) {
    return p <= -1 ? 0 : std::min(p, 1.0) + 1;
}

double roundHalfAway(double x) {
    return std::round(x);
}

Affine layerTransform(const RectD& crop, const RectD& tile, bool mirror) {
    Affine t = Affine::translation(-crop.x, -crop.y);
    if (mirror)
        t = t.then({-1, 0, 0, 1, crop.width, 0});
    return t.then(Affine::scaling(tile.width / crop.width, tile.height / crop.height))
        .then(Affine::translation(tile.x, tile.y));
}

QString overdubPath(const Take& take, const Overdub& o) {
    return QDir(take.overdubsFolder()).filePath(o.fileName);
}

SizeD measureCanvasSource(const Take& take) {
    std::optional<QString> movie;
    if (!take.info.mainRemoved) {
        movie = take.moviePath();
    } else {
        for (const Overdub& o : take.info.overdubs)
            if (o.hasVideo && isSafeOverdubFileName(o.fileName)) {
                movie = overdubPath(take, o);
                break;
            }
    }
    if (!movie)
        return fallbackCanvasSource;
    const MovieInfo info = probeMovie(*movie);
    if (info.video.empty())
        return fallbackCanvasSource;
    const QSize size = info.video.front().naturalSize;
    return {double(size.width()), double(size.height())};
}

} // namespace

double even(double x) {
    return 2 * std::floor(x / 2);
}

std::optional<double> aspectRatio(ExportSettings::Aspect aspect) {
    switch (aspect) {
    case ExportSettings::Aspect::original:
        return std::nullopt;
    case ExportSettings::Aspect::landscape:
        return 16.0 / 9.0;
    case ExportSettings::Aspect::portrait:
        return 9.0 / 16.0;
    case ExportSettings::Aspect::square:
        return 1.0;
    }
    return std::nullopt;
}

RectD cropRect(SizeD source, std::optional<double> ratio, ExportSettings::Position position) {
    const double w = source.width, h = source.height;
    if (!ratio || w <= 0 || h <= 0)
        return {0, 0, w, h};
    if (w / h > *ratio) {
        const double cropWidth = std::max(even(h * *ratio), smallestCrop);
        const double x = roundHalfAway(positionFactor(position.x) * (w - cropWidth) / 2);
        return {x, 0, cropWidth, h};
    }
    const double cropHeight = std::max(even(w / *ratio), smallestCrop);
    const double y = roundHalfAway(positionFactor(position.y) * (h - cropHeight) / 2);
    return {0, y, w, cropHeight};
}

std::vector<RectD> layout(int count, SizeD canvas, ExportSettings::VideoLayout style,
                          const std::vector<SizeD>& sizes) {
    const double W = canvas.width, H = canvas.height;
    if (count <= 1 || style == ExportSettings::VideoLayout::main)
        return {{0, 0, W, H}};
    std::vector<RectD> tiles;
    if (style == ExportSettings::VideoLayout::split) {
        int columns, rows;
        if (count <= 3) {
            columns = H <= W ? count : 1;
            rows = H <= W ? 1 : count;
        } else {
            columns = int(std::ceil(std::sqrt(double(count))));
            rows = (count + columns - 1) / columns;
        }
        const double tileWidth = even(W / columns), tileHeight = even(H / rows);
        for (int i = 0; i < count; ++i)
            tiles.push_back(
                {tileWidth * (i % columns), tileHeight * (i / columns), tileWidth, tileHeight});
        return tiles;
    }
    // Picture in picture: the first fills the canvas, the others stack up the bottom right.
    tiles.push_back({0, 0, W, H});
    const double margin = even(std::min(W, H) * pipMarginFraction);
    const double width = even(W * (H <= W ? pipWidthLandscape : pipWidthPortrait));
    double y = H - margin;
    for (int i = 1; i < count; ++i) {
        const SizeD size = i < int(sizes.size()) ? sizes[size_t(i)] : SizeD{};
        const double height = even(width * size.height / std::max(size.width, 1.0));
        tiles.push_back({W - margin - width, y - height, width, height});
        y -= margin + height;
    }
    return tiles;
}

std::vector<VideoSource> visible(const std::vector<VideoSource>& sources, const TakeInfo& info,
                                 const ExportSettings& settings) {
    std::vector<VideoSource> drawn;
    for (const VideoSource& source : sources) {
        bool shown = false;
        if (source.lane.kind == Lane::Kind::mainVideo) {
            shown = info.showMainVideo;
        } else if (source.lane.kind == Lane::Kind::overdubVideo) {
            const Overdub* o = info.overdub(source.lane.id);
            shown = settings.layout != ExportSettings::VideoLayout::main && o && o->showVideo;
        }
        if (shown)
            drawn.push_back(source);
    }
    return drawn;
}

Picture picture(const std::vector<VideoSource>& sources, const TakeInfo& info, SizeD canvasSource,
                const ExportSettings& settings, Ticks duration) {
    const std::vector<VideoSource> drawn = visible(sources, info, settings);
    const SizeD canvas = cropRect(canvasSource, aspectRatio(settings.aspect), {}).size();
    std::vector<SizeD> sizes;
    for (const VideoSource& s : drawn)
        sizes.push_back(s.size);
    const std::vector<RectD> tiles =
        drawn.empty() ? std::vector<RectD>{}
                      : layout(int(drawn.size()), canvas, settings.layout, sizes);

    Picture result;
    std::vector<LayerInstruction> layers;
    for (size_t i = 0; i < drawn.size() && i < tiles.size(); ++i) {
        const VideoSource& source = drawn[i];
        const RectD& tile = tiles[i];
        const RectD crop =
            cropRect(source.size, tile.width / tile.height, settings.position(source.lane));
        result.placements.push_back({source.lane, source.trackID, tile, crop, source.size});
        layers.push_back({source.trackID, crop, layerTransform(crop, tile, settings.mirror)});
    }
    // The first layer in the list is on top: sources 1 … n-1, then source 0 at the back.
    VideoComposition& video = result.videoComposition;
    video.renderSize = canvas;
    video.start = 0;
    video.duration = duration;
    if (!layers.empty()) {
        video.layers.assign(layers.begin() + 1, layers.end());
        video.layers.push_back(layers.front());
    }
    return result;
}

Result build(const Take& take, const SpanList& spans, const std::optional<QString>& audioPath,
             const ExportSettings& settings, bool includeOverdubVideo) {
    Result result;
    Composition& composition = result.composition;
    Ticks total = 0;
    for (const TimeSpan& span : spans)
        total += toTicks(span.end) - toTicks(span.start);

    std::vector<VideoLayer> layers;
    if (!take.info.mainRemoved)
        if (auto layer = addVideo(composition, take.moviePath(), 0, spans,
                                  take.info.edit.hiddenParts(Lane::mainVideo()), Lane::mainVideo()))
            layers.push_back(*layer);
    if (includeOverdubVideo)
        for (const Overdub& o : take.info.overdubs) {
            if (!o.hasVideo || !isSafeOverdubFileName(o.fileName))
                continue;
            const Lane lane = Lane::overdubVideo(o.id);
            if (auto layer = addVideo(composition, overdubPath(take, o), o.placedStart(), spans,
                                      take.info.edit.hiddenParts(lane), lane))
                layers.push_back(*layer);
        }

    if (audioPath) {
        const MovieInfo audio = probeMovie(*audioPath);
        if (!audio.audio.empty()) {
            const std::int32_t trackID = composition.addTrack(CompositionTrack::Kind::audio);
            // Up to the tick its last sample falls in: a truncated length would leave the
            // mix's last fraction of a tick unplayed.
            const qint64 frames = framesRounded(audio.durationSeconds);
            const Ticks length =
                std::min(Ticks((frames + framesPerTick - 1) / framesPerTick), total);
            if (length > 0)
                composition.insert(trackID, {*audioPath, 0, 0, length, 0});
        }
    }

    if (composition.duration() > total)
        composition.removeTimeRange(total, composition.duration() - total);

    std::erase_if(layers, [&](const VideoLayer& layer) {
        const CompositionTrack* track = composition.track(layer.trackID);
        const bool empty = !track || track->segments.empty();
        if (track && empty)
            composition.removeTrack(layer.trackID);
        return empty;
    });

    result.canvasSource = measureCanvasSource(take);
    for (const VideoLayer& layer : layers)
        result.videoSources.push_back({layer.trackID, layer.lane, layer.naturalSize});

    if (!result.videoSources.empty() && composition.duration() > 0) {
        Picture p = picture(result.videoSources, take.info, result.canvasSource, settings,
                            composition.duration());
        result.renderSize = p.videoComposition.renderSize;
        result.videoComposition = std::move(p.videoComposition);
        result.placements = std::move(p.placements);
    } else {
        result.renderSize = cropRect(result.canvasSource, aspectRatio(settings.aspect), {}).size();
    }
    return result;
}

LiveSnapshot liveSnapshot(SizeD canvas, const std::vector<Placement>& placements, bool mirror) {
    LiveSnapshot snapshot;
    snapshot.canvas = canvas;
    snapshot.mirror = mirror;
    for (const Placement& p : placements)
        snapshot.layers.push_back({p.trackID, p.tile, p.crop, p.sourceSize});
    return snapshot;
}

} // namespace reelbox::TakeComposer
