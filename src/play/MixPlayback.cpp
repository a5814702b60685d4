#include "play/MixPlayback.h"

#include "platform/HostClock.h"
#include "play/SampleRing.h"

#include <algorithm>
#include <cmath>

namespace reelbox {

namespace {
constexpr double nsPerFrame = double(nsPerSecond) / MixPlayback::sampleRate;
} // namespace

MixPlayback::MixPlayback() = default;

MixPlayback::~MixPlayback() = default;

void MixPlayback::send(const Command& command) {
    m_commandSeq.fetch_add(1); // odd: writing
    m_cmdPlaying.store(command.playing);
    m_cmdFrame.store(command.frame);
    m_cmdStartHostNs.store(command.startHostNs);
    m_commandSeq.fetch_add(1); // even: complete
}

bool MixPlayback::receive(Command& command, unsigned& seq) const noexcept {
    // The writer is the main thread and never stalls long; a torn read just waits for the
    // next buffer.
    const unsigned before = m_commandSeq.load();
    if (before & 1u || before == m_appliedSeq)
        return false;
    command.playing = m_cmdPlaying.load();
    command.frame = m_cmdFrame.load();
    command.startHostNs = m_cmdStartHostNs.load();
    seq = before;
    return m_commandSeq.load() == before;
}

MixPlayback::Released MixPlayback::setItem(std::shared_ptr<const MixSamples> samples,
                                           qint64 lengthFrames) {
    if (samples)
        m_kept.push_back(samples);
    m_pending.store(samples.get());
    m_length.store(std::max<qint64>(0, lengthFrames));
    pause(0);
    return collect();
}

void MixPlayback::play(qint64 frame, qint64 startHostNs) {
    m_reachedEnd.store(false);
    m_firstHeardNs.store(0);
    send({true, std::clamp<qint64>(frame, 0, m_length.load()), startHostNs});
}

void MixPlayback::pause(qint64 frame) {
    const qint64 at = std::clamp<qint64>(frame, 0, m_length.load());
    send({false, at, 0});
}

MixPlayback::Released MixPlayback::collect() {
    const MixSamples* pending = m_pending.load();
    const MixSamples* inUse = m_inUse.load();
    Released released;
    std::erase_if(m_kept, [&](std::shared_ptr<const MixSamples>& s) {
        if (s.get() == pending || s.get() == inUse)
            return false;
        released.push_back(std::move(s));
        return true;
    });
    return released;
}

const MixSamples* MixPlayback::acquireSamples() noexcept {
    // A hazard pointer: announce what is read, then check it is still the one offered, so
    // the main thread never frees it underneath.
    const MixSamples* samples = m_pending.load();
    for (;;) {
        m_inUse.store(samples);
        const MixSamples* again = m_pending.load();
        if (again == samples)
            return samples;
        samples = again;
    }
}

void MixPlayback::publish(qint64 frame, qint64 hostNs, bool moving) noexcept {
    m_positionSeq.fetch_add(1);
    m_anchorFrame.store(frame);
    m_anchorHostNs.store(hostNs);
    m_moving.store(moving);
    m_positionSeq.fetch_add(1);
}

double MixPlayback::positionAt(qint64 hostNowNs) const {
    for (;;) {
        const unsigned before = m_positionSeq.load();
        if (before & 1u)
            continue;
        const qint64 frame = m_anchorFrame.load();
        const qint64 host = m_anchorHostNs.load();
        const bool moving = m_moving.load();
        if (m_positionSeq.load() != before)
            continue;
        if (!moving)
            return double(frame);
        const double heard = double(frame) + double(hostNowNs - host) / nsPerFrame;
        return std::clamp(heard, 0.0, double(m_length.load()));
    }
}

void MixPlayback::render(float* out, int frames, int channels, qint64 hostTimeNs) noexcept {
    Command command;
    unsigned seq = 0;
    if (receive(command, seq)) {
        m_appliedSeq = seq;
        m_playing = command.playing;
        m_position = command.frame;
        m_startHostNs = command.playing ? command.startHostNs : 0;
        m_waitingFirst = command.playing;
    }
    const MixSamples* samples = acquireSamples();
    std::fill(out, out + qsizetype(frames) * channels, 0.0f);
    const qint64 length = m_length.load();

    if (!m_playing) {
        publish(m_position, hostTimeNs, false);
        return;
    }
    // A scheduled start: silence until the instant, then the first sample exactly on it.
    int offset = 0;
    if (m_startHostNs != 0) {
        const double ahead = double(m_startHostNs - hostTimeNs) / nsPerFrame;
        if (ahead >= frames) {
            publish(m_position, m_startHostNs, false);
            return;
        }
        offset = std::max(0, int(std::llround(ahead)));
        m_startHostNs = 0;
    }
    const qint64 first = m_position;
    const qint64 firstHeard = hostTimeNs + qint64(std::llround(offset * nsPerFrame));
    const qint64 available = std::max<qint64>(0, length - m_position);
    const int count = int(std::min<qint64>(frames - offset, available));
    if (samples && channels > 0) {
        const qint64 stored = samples->frames();
        for (int i = 0; i < count; ++i) {
            const qint64 f = m_position + i;
            if (f >= stored)
                break;
            float* frame = out + qsizetype(offset + i) * channels;
            frame[0] = samples->samples[size_t(2 * f)];
            if (channels > 1)
                frame[1] = samples->samples[size_t(2 * f + 1)];
            else
                frame[0] = 0.5f * (frame[0] + samples->samples[size_t(2 * f + 1)]);
        }
    }
    m_position += count;
    if (SampleRing* tap = m_tap.load()) {
        for (int i = offset; i < frames; ++i) {
            const float* frame = out + qsizetype(i) * channels;
            const float stereo[2] = {frame[0], channels > 1 ? frame[1] : frame[0]};
            tap->push(stereo, 2);
        }
    }
    if (m_waitingFirst) {
        m_waitingFirst = false;
        m_firstHeardNs.store(firstHeard);
    }
    publish(first, firstHeard, true);
    if (m_position >= length) {
        m_playing = false;
        m_reachedEnd.store(true);
    }
}

} // namespace reelbox
