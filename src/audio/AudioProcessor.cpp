#include "audio/AudioProcessor.h"

#include "audio/BlockProgress.h"
#include "audio/MixSteps.h"
#include "audio/StemError.h"
#include "audio/dsp/Reverb.h"
#include "audio/dsp/SampleOps.h"
#include "platform/Cancellation.h"

#include <QFile>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <future>
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

} // namespace

// One track as processed, with what it was made from.
struct ProcessedTrack {
    std::uint64_t serial = 0; // tells this track's sound from every other one the cache held
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

// What a room is given by one track: that track's sound, its gains and its send.
struct Send {
    std::uint64_t track = 0;
    float left = 0;
    float right = 0;
    float send = 0;
    bool operator==(const Send&) const = default;
};

// A room's reverberation of everything sent to it, the length of the mix.
struct RoomOutput {
    ReverbRoom room{};
    std::vector<Send> sends;
    Bus wet;
};

struct TrackCache::State {
    std::vector<std::unique_ptr<ProcessedTrack>> tracks;
    std::vector<std::unique_ptr<RoomOutput>> rooms;
    std::uint64_t nextSerial = 1;
    int reused = 0;
    int reusedRooms = 0;
};

TrackCache::TrackCache() : m_state(std::make_unique<State>()) {}
TrackCache::~TrackCache() = default;

int TrackCache::size() const {
    return int(m_state->tracks.size());
}

int TrackCache::reused() const {
    return m_state->reused;
}

int TrackCache::reusedRooms() const {
    return m_state->reusedRooms;
}

namespace {

// One track's time line, processed, into `samples`.
void process(Buffer& samples, const TrackInput& input, const SpanList& spans,
             const std::vector<std::uint32_t>& lengths, qint64 total,
             const std::stop_token& token) {
    splice(samples, input.stem, input.start, spans, lengths, total);
    silenceHidden(samples, input.hidden, spans, lengths);
    processTrack(samples, input.track.effects, token);
}

// The track's processed sound from the cache, made and kept there when it isn't.
const ProcessedTrack& cachedTrack(TrackCache::State& cache, const TrackInput& input,
                                  const SpanList& spans, const std::vector<std::uint32_t>& lengths,
                                  qint64 total, const std::stop_token& token) {
    for (auto& track : cache.tracks)
        if (!track->used && track->matches(input, spans)) {
            track->used = true;
            ++cache.reused;
            return *track;
        }
    auto track = std::make_unique<ProcessedTrack>();
    process(track->samples, input, spans, lengths, total, token);
    track->serial = cache.nextSerial++;
    track->stem = input.stem;
    track->start = input.start;
    track->spans = spans;
    track->hidden = input.hidden;
    track->effects = input.track.effects;
    track->used = true;
    cache.tracks.push_back(std::move(track));
    return *cache.tracks.back();
}

// A room's reverberation, a block at a time: `input(at, n)` gives the left and right input of
// frames [at, at + n), and `use(at, left, right, n)` is given that block of the output, in
// `scratch` (blocks of blockFrames) or, with `whole`, in place in that buffer of `total` frames.
template <class Input, class Use>
void reverberate(ReverbRoom room, qint64 total, Bus* whole, const std::stop_token& token,
                 Input input, Use use) {
    dsp::Reverb reverb(presetFor(room), audioSampleRate);
    Bus scratch;
    if (whole)
        *whole = {Buffer(size_t(total)), Buffer(size_t(total))};
    else
        scratch = {Buffer(size_t(blockFrames)), Buffer(size_t(blockFrames))};
    for (qint64 at = 0; at < total; at += blockFrames) {
        throwIfCancelled(token);
        const qint64 n = std::min(blockFrames, total - at);
        float* const left = whole ? whole->left.data() + at : scratch.left.data();
        float* const right = whole ? whole->right.data() + at : scratch.right.data();
        const auto [inLeft, inRight] = input(at, n);
        reverb.process(inLeft, inRight, left, right, size_t(n));
        use(at, left, right, n);
    }
}

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
        process(samples, *sounding[k], spans, lengths, total, token);
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

// Frames a room being made again gets ahead by before the mixing thread is told.
constexpr qint64 publishFrames = 16 * blockFrames;

// A room made again while the mix is summed: a block at a time, its sends summed and
// reverberated into the room's output, with how far it has come published for the mixing
// thread.
class RoomMaker {
public:
    RoomMaker(RoomOutput& output, std::vector<const float*> sources, qint64 total)
        : m_output(output), m_sources(std::move(sources)), m_total(total) {}

    void run(const std::stop_token& token) {
        try {
            Bus bus{Buffer(size_t(blockFrames)), Buffer(size_t(blockFrames))};
            reverberate(
                m_output.room, m_total, &m_output.wet, token,
                [&](qint64 at, qint64 n) {
                    std::fill_n(bus.left.data(), n, 0.0f);
                    std::fill_n(bus.right.data(), n, 0.0f);
                    for (size_t k = 0; k < m_sources.size(); ++k) {
                        const Send& send = m_output.sends[k];
                        dsp::addSend(m_sources[k] + at, send.left, send.right, send.send,
                                     bus.left.data(), bus.right.data(), size_t(n));
                    }
                    return std::pair{bus.left.data(), bus.right.data()};
                },
                [&](qint64 at, const float*, const float*, qint64 n) {
                    if ((at + n) % publishFrames == 0 || at + n == m_total)
                        m_progress.publish(at + n);
                });
        } catch (...) {
            m_progress.fail();
            throw;
        }
    }

    const BlockProgress& progress() const { return m_progress; }

private:
    RoomOutput& m_output;
    std::vector<const float*> m_sources;
    qint64 m_total;
    BlockProgress m_progress;
};

// The same sums from tracks processed before, block by block: each room whose sends changed is
// made again on a thread of its own while this one sums the dry mix behind it, then adds
// every room's output, in the same order as when streaming, so every sample comes out the
// same. Returns the mix's peak.
float mixFromCache(TrackCache::State& cache, const std::vector<const TrackInput*>& sounding,
                   const std::vector<Send>& sends, const std::vector<const ProcessedTrack*>& tracks,
                   const std::map<ReverbRoom, std::vector<Send>>& roomSends, Bus& mix,
                   Buffer* written, const std::stop_token& token,
                   const std::function<void(double)>& progress) {
    const qint64 total = qint64(mix.left.size());
    std::vector<const RoomOutput*> rooms; // in the streaming order
    std::vector<std::unique_ptr<RoomOutput>> made;
    std::vector<std::unique_ptr<RoomMaker>> makers;
    std::vector<const RoomMaker*> makerOf;
    for (const auto& [room, itsSends] : roomSends) {
        const auto kept = std::find_if(cache.rooms.begin(), cache.rooms.end(),
                                       [&](const auto& r) { return r->room == room; });
        if (kept != cache.rooms.end()) {
            rooms.push_back(kept->get());
            makerOf.push_back(nullptr);
            ++cache.reusedRooms;
            continue;
        }
        made.push_back(std::make_unique<RoomOutput>(RoomOutput{room, itsSends, {}}));
        std::vector<const float*> sources;
        for (size_t k = 0; k < sounding.size(); ++k)
            if (sends[k].send > 0 && sounding[k]->track.effects.reverbRoom == room)
                sources.push_back(tracks[k]->samples.data());
        makers.push_back(std::make_unique<RoomMaker>(*made.back(), std::move(sources), total));
        rooms.push_back(made.back().get());
        makerOf.push_back(makers.back().get());
    }
    // Declared after what they read, so they are joined before it goes.
    std::vector<std::future<void>> running;
    for (auto& maker : makers)
        running.push_back(std::async(std::launch::async, [&maker, token] { maker->run(token); }));
    // The output's memory is touched while the rooms are made, rather than after.
    if (written)
        written->resize(size_t(2 * total));

    float peak = 0;
    bool failed = false;
    for (qint64 at = 0; at < total && !failed; at += blockFrames) {
        throwIfCancelled(token);
        const qint64 n = std::min(blockFrames, total - at);
        float* const left = mix.left.data() + at;
        float* const right = mix.right.data() + at;
        for (size_t k = 0; k < sounding.size(); ++k)
            dsp::addPanned(tracks[k]->samples.data() + at, sends[k].left, sends[k].right, left,
                           right, size_t(n));
        for (size_t r = 0; r < rooms.size() && !failed; ++r) {
            failed = makerOf[r] && !makerOf[r]->progress().waitFor(at + n);
            if (!failed) {
                dsp::add(rooms[r]->wet.left.data() + at, left, size_t(n));
                dsp::add(rooms[r]->wet.right.data() + at, right, size_t(n));
            }
        }
        peak = std::max(
            {peak, dsp::peakMagnitude(left, size_t(n)), dsp::peakMagnitude(right, size_t(n))});
        if (progress)
            progress(double(at + n) / double(total));
    }
    for (auto& job : running)
        job.get(); // a room's failure, if any, is thrown here
    for (auto& room : made)
        cache.rooms.push_back(std::move(room));
    return peak;
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
    if (cache) {
        for (auto& track : cache->tracks)
            track->used = false;
        cache->reused = cache->reusedRooms = 0;
    }

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
        // Every track is processed (or found) first, so that the rooms sent the very same
        // sound as before are known before the mixing.
        std::vector<const ProcessedTrack*> processed;
        for (size_t k = 0; k < sounding.size(); ++k) {
            throwIfCancelled(token);
            processed.push_back(&cachedTrack(*cache, *sounding[k], spans, lengths, total, token));
            sends[k].track = processed.back()->serial;
        }
        std::erase_if(cache->tracks, [](const auto& track) { return !track->used; });
        std::map<ReverbRoom, std::vector<Send>> roomSends;
        for (size_t k = 0; k < sounding.size(); ++k)
            if (sends[k].send > 0)
                roomSends[sounding[k]->track.effects.reverbRoom].push_back(sends[k]);
        std::erase_if(cache->rooms, [&](const auto& kept) {
            const auto it = roomSends.find(kept->room);
            return it == roomSends.end() || it->second != kept->sends;
        });
        peak = mixFromCache(*cache, sounding, sends, processed, roomSends, mix, written, token,
                            progress);
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
