#include "audio/CachedMix.h"

#include "audio/BlockProgress.h"
#include "audio/dsp/SampleOps.h"
#include "platform/Cancellation.h"

#include <algorithm>
#include <future>
#include <map>

namespace reelbox::AudioProcessor {

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

} // namespace reelbox::AudioProcessor

namespace reelbox::mix {

using AudioProcessor::TrackCache;
using AudioProcessor::TrackInput;

bool ProcessedTrack::matches(const TrackInput& input, const SpanList& played) const {
    return stem == input.stem && start == input.start && spans == played &&
           hidden == input.hidden && effects == input.track.effects;
}

namespace {

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
    processTrackSound(track->samples, input, spans, lengths, total, token);
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

} // namespace

// The tracks are processed (or found) first, so that the rooms sent the very same sound as
// before are known before the mixing. Then the sums, block by block: each room whose sends
// changed is made again on a thread of its own while this one sums the dry mix behind it and
// adds every room's output, in the same order as the streaming mix, so every sample comes out
// the same.
float mixFromCache(TrackCache::State& cache, const std::vector<const TrackInput*>& sounding,
                   std::vector<Send>& sends, const SpanList& spans,
                   const std::vector<std::uint32_t>& lengths, Bus& mix, Buffer* written,
                   const std::stop_token& token, const std::function<void(double)>& progress) {
    const qint64 total = qint64(mix.left.size());
    for (auto& track : cache.tracks)
        track->used = false;
    cache.reused = cache.reusedRooms = 0;
    std::vector<const ProcessedTrack*> processed;
    for (size_t k = 0; k < sounding.size(); ++k) {
        throwIfCancelled(token);
        processed.push_back(&cachedTrack(cache, *sounding[k], spans, lengths, total, token));
        sends[k].track = processed.back()->serial;
    }
    std::erase_if(cache.tracks, [](const auto& track) { return !track->used; });
    std::map<ReverbRoom, std::vector<Send>> roomSends;
    for (size_t k = 0; k < sounding.size(); ++k)
        if (sends[k].send > 0)
            roomSends[sounding[k]->track.effects.reverbRoom].push_back(sends[k]);
    std::erase_if(cache.rooms, [&](const auto& kept) {
        const auto it = roomSends.find(kept->room);
        return it == roomSends.end() || it->second != kept->sends;
    });
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
                sources.push_back(processed[k]->samples.data());
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
            dsp::addPanned(processed[k]->samples.data() + at, sends[k].left, sends[k].right, left,
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

} // namespace reelbox::mix
