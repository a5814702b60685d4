#include "edit/TakePipeline.h"

#include "audio/Filmstrip.h"
#include "audio/MixSteps.h"
#include "audio/Stems.h"
#include "edit/TrackInputs.h"
#include "model/TakeLibrary.h"
#include "platform/Cancellation.h"

#include <QDir>
#include <QFile>
#include <algorithm>

namespace reelbox::TakePipeline {

StemMap extractStems(const Take& take, const QString& cache, StemMap known,
                     const std::stop_token& token, const std::function<void(double)>& progress) {
    // Only what a track plays: a movie without sound (a camera-only take) has no stems.
    std::set<QString> used;
    for (const Track& track : take.info.tracks)
        if (const auto source = take.audioSource(track))
            used.insert(source->path);
    const QStringList files = mediaFiles(take);
    for (int i = 0; i < files.size(); ++i) {
        if (progress)
            progress(double(i) / files.size());
        if (used.contains(files[i]) && !known.contains(files[i]))
            known[files[i]] = Stems::extract(files[i], cache, token);
    }
    return known;
}

StemsResult loadStems(const Take& take, const QString& cache, StemMap known,
                      const std::set<QUuid>& stripsKnown, const std::stop_token& token) {
    StemsResult result;
    result.stems = extractStems(take, cache, std::move(known), token);
    for (const Track& track : take.info.tracks) {
        const auto source = take.audioSource(track);
        if (!source)
            continue;
        const auto it = result.stems.find(source->path);
        if (it == result.stems.end())
            continue;
        const qint64 channel = track.source.channel;
        if (channel >= 0 && channel < it->second.size())
            result.waveforms[track.id] =
                Waveform::load(it->second[int(channel)], source->start, token);
    }
    for (const Overdub& overdub : take.info.overdubs) {
        if (!overdub.hasVideo || stripsKnown.contains(overdub.id) ||
            !isSafeOverdubFileName(overdub.fileName))
            continue;
        result.overdubStrips[overdub.id] = Filmstrip::frames(
            QDir(take.overdubsFolder()).filePath(overdub.fileName), 16, 48, token);
    }
    return result;
}

std::optional<Mix> mix(const Take& take, const StemMap& stems, const SpanList& spans,
                       const QString& path, const std::stop_token& token,
                       const std::function<void(double)>& progress,
                       AudioProcessor::TrackCache* cache, bool keepSamples) {
    const auto inputs = trackInputs(take, stems);
    const auto lengths = reelbox::mix::spanLengths(spans);
    const bool nothingPlayed =
        std::all_of(lengths.begin(), lengths.end(), [](std::uint32_t n) { return n == 0; });
    if (inputs.empty() || nothingPlayed)
        return std::nullopt;
    auto samples = keepSamples ? std::make_shared<MixSamples>() : nullptr;
    try {
        Mix mix{path,
                AudioProcessor::render(inputs, take.info.master, spans, path, token, progress,
                                       cache, samples ? &samples->samples : nullptr),
                samples};
        throwIfCancelled(token); // a stop that came while the file was written
        return mix;
    } catch (...) {
        QFile::remove(path); // no half-written or orphaned mix
        throw;
    }
}

QString cacheFolder(const Take& take) {
    const QString folder = QDir(TakeLibrary::defaultCacheRoot()).filePath(take.folderName());
    QDir().mkpath(folder);
    return folder;
}

QString newAudioPath(const QString& cache, const QString& prefix) {
    return QDir(cache).filePath(prefix + QLatin1Char('-') +
                                QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                                QStringLiteral(".caf"));
}

ExportSettings monitorSettings() {
    ExportSettings settings;
    settings.format = ExportSettings::Format::h264;
    settings.aspect = ExportSettings::Aspect::original;
    settings.mirror = false;
    settings.layout = ExportSettings::VideoLayout::split;
    return settings;
}

bool isValidPicture(const Composition& composition, const VideoComposition& picture) {
    if (!(picture.renderSize.width > 0 && picture.renderSize.height > 0))
        return false;
    if (picture.start != 0 || picture.duration != composition.duration() ||
        picture.frameDuration <= 0)
        return false;
    for (const LayerInstruction& layer : picture.layers) {
        const CompositionTrack* track = composition.track(layer.trackID);
        if (!track || track->kind != CompositionTrack::Kind::video)
            return false;
    }
    return true;
}

} // namespace reelbox::TakePipeline
