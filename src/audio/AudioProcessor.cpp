#include "audio/AudioProcessor.h"

#include "audio/MixSteps.h"
#include "audio/StemError.h"
#include "audio/dsp/Reverb.h"
#include "audio/dsp/SampleOps.h"
#include "platform/Cancellation.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace reelbox::AudioProcessor {

using namespace mix;

namespace {

constexpr double normalizeTargetDB = -1.0;
constexpr double normalizeCeilingDB = 18.0;
constexpr float silenceThreshold = 1e-6f;
constexpr double logFloor = 1e-9;

struct Bus {
    Buffer left;
    Buffer right;
};

dsp::ReverbPreset presetFor(ReverbRoom room) {
    switch (room) {
    case ReverbRoom::smallRoom:
        return dsp::ReverbPreset::smallRoom;
    case ReverbRoom::mediumRoom:
        return dsp::ReverbPreset::mediumRoom;
    case ReverbRoom::largeRoom:
        return dsp::ReverbPreset::largeRoom;
    case ReverbRoom::hall:
        return dsp::ReverbPreset::hall;
    case ReverbRoom::largeHall:
        return dsp::ReverbPreset::largeHall;
    case ReverbRoom::plate:
        return dsp::ReverbPreset::plate;
    case ReverbRoom::cathedral:
        return dsp::ReverbPreset::cathedral;
    }
    return dsp::ReverbPreset::mediumRoom;
}

// Adds the room's reverberation of the bus to the mix; the tail past the end is cut.
void addReverb(ReverbRoom room, const Bus& bus, Bus& mix, const std::stop_token& token) {
    dsp::Reverb reverb(presetFor(room), audioSampleRate);
    const qint64 total = qint64(mix.left.size());
    Buffer wetLeft(static_cast<size_t>(blockFrames));
    Buffer wetRight(static_cast<size_t>(blockFrames));
    for (qint64 at = 0; at < total; at += blockFrames) {
        throwIfCancelled(token);
        const qint64 n = std::min(blockFrames, total - at);
        reverb.process(bus.left.data() + at, bus.right.data() + at, wetLeft.data(), wetRight.data(),
                       size_t(n));
        dsp::add(wetLeft.data(), mix.left.data() + at, size_t(n));
        dsp::add(wetRight.data(), mix.right.data() + at, size_t(n));
    }
}

} // namespace

struct TrackCache::Entry {
    QString stem;
    double start = 0;
    SpanList spans;
    SpanList hidden;
    TrackEffects effects;
    Buffer samples;
    bool used = false;

    bool matches(const TrackInput& input, const SpanList& played) const {
        return stem == input.stem && start == input.start && spans == played &&
               hidden == input.hidden && effects == input.track.effects;
    }
};

TrackCache::TrackCache() = default;
TrackCache::~TrackCache() = default;

int TrackCache::size() const {
    return int(m_entries.size());
}

struct Access {
    static std::vector<std::unique_ptr<TrackCache::Entry>>& entries(TrackCache& cache) {
        return cache.m_entries;
    }
    static int& reused(TrackCache& cache) { return cache.m_reused; }
};

namespace {

// One track's processed samples into `samples`: from the cache when it holds them, else made
// and, with a cache, kept there.
void processedTrack(Buffer& samples, const TrackInput& input, const SpanList& spans,
                    const std::vector<std::uint32_t>& lengths, qint64 total, TrackCache* cache,
                    const std::stop_token& token) {
    if (cache) {
        for (auto& entry : Access::entries(*cache))
            if (!entry->used && entry->matches(input, spans)) {
                entry->used = true;
                samples.assign(entry->samples.begin(), entry->samples.end());
                ++Access::reused(*cache);
                return;
            }
    }
    splice(samples, input.stem, input.start, spans, lengths, total);
    silenceHidden(samples, input.hidden, spans, lengths);
    processTrack(samples, input.track.effects, token);
    if (cache) {
        auto entry = std::make_unique<TrackCache::Entry>();
        *entry = {input.stem, input.start, spans, input.hidden, input.track.effects, samples, true};
        Access::entries(*cache).push_back(std::move(entry));
    }
}

} // namespace

Analysis render(const std::vector<TrackInput>& tracks, const MasterSettings& master,
                const SpanList& spans, const QString& outputPath, const std::stop_token& token,
                const std::function<void(double)>& progress, TrackCache* cache) {
    // No denormal flush here: the mixing is plain float arithmetic down to the smallest
    // values, and each effect holds the flush for its own loops.
    const std::vector<std::uint32_t> lengths = spanLengths(spans);
    qint64 total = 0;
    for (std::uint32_t length : lengths)
        total += length;
    if (total == 0)
        throw StemError::noAudio();
    if (total > qint64(std::numeric_limits<std::uint32_t>::max()))
        throw Error(QStringLiteral("The take is too long to mix."));

    Bus mix{Buffer(size_t(total), 0.0f), Buffer(size_t(total), 0.0f)};
    std::map<ReverbRoom, Bus> rooms;
    if (cache) {
        for (auto& entry : Access::entries(*cache))
            entry->used = false;
        Access::reused(*cache) = 0;
    }

    // Solo: when any track is soloed only soloed tracks sound; muted never sounds.
    const bool anySolo = std::any_of(tracks.begin(), tracks.end(),
                                     [](const TrackInput& input) { return input.track.solo; });
    std::vector<const TrackInput*> sounding;
    for (const TrackInput& input : tracks)
        if (!input.track.muted && (!anySolo || input.track.solo))
            sounding.push_back(&input);
    std::set<ReverbRoom> usedRooms;
    for (const TrackInput* input : sounding)
        if (float(input->track.effects.reverbSend) > 0)
            usedRooms.insert(input->track.effects.reverbRoom);
    const size_t steps = sounding.size() + usedRooms.size();
    size_t done = 0;
    auto report = [&] {
        ++done;
        if (progress)
            progress(double(done) / double(steps));
    };

    const float loudestSend = float(std::pow(10.0, loudestGainDB / 20));
    // One track's buffer at a time, reused from track to track.
    Buffer samples;
    for (const TrackInput* sound : sounding) {
        const TrackInput& input = *sound;
        const Track& track = input.track;
        throwIfCancelled(token);
        processedTrack(samples, input, spans, lengths, total, cache, token);

        const StereoGain gain = panGains(track.volumeDB, track.pan);
        // The send is taken after volume and pan, and limited like a gain.
        const float send = std::min(float(track.effects.reverbSend), loudestSend);
        if (send > 0) {
            Bus& bus = rooms[track.effects.reverbRoom];
            if (bus.left.empty())
                bus = {Buffer(size_t(total), 0.0f), Buffer(size_t(total), 0.0f)};
            dsp::addPannedWithSend(samples.data(), gain.left, gain.right, send, mix.left.data(),
                                   mix.right.data(), bus.left.data(), bus.right.data(),
                                   size_t(total));
        } else {
            dsp::addPanned(samples.data(), gain.left, gain.right, mix.left.data(), mix.right.data(),
                           size_t(total));
        }
        report();
    }
    Buffer().swap(samples);

    // What this render didn't use won't be asked for again.
    if (cache)
        std::erase_if(Access::entries(*cache), [](const auto& entry) { return !entry->used; });

    // Each room's bus is released as soon as its reverb is in the mix.
    for (auto it = rooms.begin(); it != rooms.end(); it = rooms.erase(it)) {
        throwIfCancelled(token);
        addReverb(it->first, it->second, mix, token);
        report();
    }

    // Normalize is measured before the master volume. Samples that are not finite can't come
    // from the stems; whatever overflowed on the way is passed over here and written as 0.
    const float peak = peakLevel(mix.left, mix.right);
    Analysis analysis;
    analysis.peakDB = 20 * std::log10(std::max(double(peak), logFloor));
    if (master.normalize && peak > silenceThreshold)
        analysis.normalizeGainDB =
            std::min(normalizeTargetDB - analysis.peakDB, normalizeCeilingDB);
    const float factor =
        float(std::pow(10.0, (limitedGainDB(master.volumeDB) + analysis.normalizeGainDB) / 20));

    throwIfCancelled(token);
    QFile::remove(outputPath);
    // Master gain, edge fades and clip, a chunk at a time as the file is written.
    finishAndWrite(outputPath, mix.left, mix.right, factor);
    return analysis;
}

} // namespace reelbox::AudioProcessor
