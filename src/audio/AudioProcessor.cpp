#include "audio/AudioProcessor.h"

#include "audio/CachedMix.h"
#include "audio/MixSteps.h"
#include "audio/StemError.h"
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

// The tracks one after another, each processed into one reused buffer and added to the mix
// and to its room's bus; then each room's reverberation, streamed into the mix. Returns the mix's
// peak.
float mixStreaming(const std::vector<const TrackInput*>& sounding, const std::vector<Send>& sends,
                   const SpanList& spans, const std::vector<std::uint32_t>& lengths, Bus& mix,
                   const std::stop_token& token, const std::function<void()>& report) {
    const qint64 total = qint64(mix.left.size());
    std::map<ReverbRoom, Bus> rooms;
    Buffer samples;
    for (size_t k = 0; k < sounding.size(); ++k) {
        throwIfCancelled(token);
        processTrackSound(samples, *sounding[k], spans, lengths, total, token);
        const Send& send = sends[k];
        if (send.send > 0) {
            Bus& bus = rooms[sounding[k]->track.effects.reverbRoom];
            if (bus.left.empty())
                bus = {Buffer(size_t(total), 0.0f), Buffer(size_t(total), 0.0f)};
            dsp::addPannedWithSend(samples.data(), send.left, send.right, send.send,
                                   mix.left.data(), mix.right.data(), bus.left.data(),
                                   bus.right.data(), size_t(total));
        } else {
            dsp::addPanned(samples.data(), send.left, send.right, mix.left.data(), mix.right.data(),
                           size_t(total));
        }
        report();
    }
    Buffer().swap(samples);
    // Each room's bus is released as soon as its reverb is in the mix.
    for (auto it = rooms.begin(); it != rooms.end(); it = rooms.erase(it)) {
        throwIfCancelled(token);
        const Bus& bus = it->second;
        reverberate(
            it->first, total, nullptr, token,
            [&](qint64 at, qint64) {
                return std::pair{bus.left.data() + at, bus.right.data() + at};
            },
            [&](qint64 at, const float* left, const float* right, qint64 n) {
                dsp::add(left, mix.left.data() + at, size_t(n));
                dsp::add(right, mix.right.data() + at, size_t(n));
            });
        report();
    }
    return peakLevel(mix.left, mix.right);
}

} // namespace

Analysis render(const std::vector<TrackInput>& tracks, const MasterSettings& master,
                const SpanList& spans, const QString& outputPath, const std::stop_token& token,
                const std::function<void(double)>& progress, TrackCache* trackCache,
                Buffer* written) {
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
    TrackCache::State* const cache = trackCache ? &trackCache->state() : nullptr;

    // Solo: when any track is soloed only soloed tracks sound; muted never sounds.
    const bool anySolo = std::any_of(tracks.begin(), tracks.end(),
                                     [](const TrackInput& input) { return input.track.solo; });
    std::vector<const TrackInput*> sounding;
    for (const TrackInput& input : tracks)
        if (!input.track.muted && (!anySolo || input.track.solo))
            sounding.push_back(&input);

    // The send is taken after volume and pan, and limited like a gain.
    const float loudestSend = float(std::pow(10.0, loudestGainDB / 20));
    std::vector<Send> sends;
    for (const TrackInput* input : sounding) {
        const StereoGain gain = panGains(input->track.volumeDB, input->track.pan);
        sends.push_back({0, gain.left, gain.right,
                         std::min(float(input->track.effects.reverbSend), loudestSend)});
    }
    std::set<ReverbRoom> rooms; // rooms in use
    for (size_t k = 0; k < sounding.size(); ++k)
        if (sends[k].send > 0)
            rooms.insert(sounding[k]->track.effects.reverbRoom);

    const size_t steps = sounding.size() + rooms.size();
    size_t done = 0;
    const std::function<void()> report = [&] {
        ++done;
        if (progress)
            progress(double(done) / double(steps));
    };

    Bus mix{Buffer(size_t(total), 0.0f), Buffer(size_t(total), 0.0f)};
    float peak = 0;
    if (!cache) {
        peak = mixStreaming(sounding, sends, spans, lengths, mix, token, report);
    } else {
        peak = mixFromCache(*cache, sounding, sends, spans, lengths, mix, written, token, progress);
    }

    // Normalize is measured before the master volume. Samples that are not finite can't come
    // from the stems; whatever overflowed on the way is passed over here and written as 0.
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
    finishAndWrite(outputPath, mix.left, mix.right, factor, written);
    return analysis;
}

} // namespace reelbox::AudioProcessor
