#include "capture/LatencyCalibration.h"

#include "platform/Error.h"
#include "platform/HostClock.h"
#include "platform/sound/SoundSystem.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <numbers>
#include <thread>

namespace reelbox {

namespace {} // namespace

namespace latency {

namespace {
// Correlations this close to the peak belong to it (a band-limited path widens it).
constexpr qint64 peakHalfWidthFrames = audioSampleRate / 500; // 2 ms

} // namespace

std::vector<float> testSignal() {
    std::vector<float> signal(static_cast<size_t>(signalFrames));
    // xorshift32: the same burst on every machine and every run.
    quint32 state = 0x5eed1234u;
    const int fadeFrames = audioSampleRate / 500;
    for (int i = 0; i < signalFrames; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        float value = 0.5f * (float(state) / 2147483648.0f - 1.0f);
        const int edge = std::min(i, signalFrames - 1 - i);
        if (edge < fadeFrames)
            value *= float(0.5 - 0.5 * std::cos(std::numbers::pi * edge / fadeFrames));
        signal[size_t(i)] = value;
    }
    return signal;
}

Peak findSignal(std::span<const float> signal, std::span<const float> recording, qint64 first,
                qint64 last) {
    const qint64 length = qint64(signal.size());
    first = std::max<qint64>(first, 0);
    last = std::min<qint64>(last, qint64(recording.size()) - length);
    if (length == 0 || last < first)
        return {};
    // Lag by lag in the inner loop: no reduction, so it vectorises as it stands.
    const qint64 lags = last - first + 1;
    std::vector<float> correlation(size_t(lags), 0.0f);
    float* c = correlation.data();
    for (qint64 k = 0; k < length; ++k) {
        const float s = signal[size_t(k)];
        if (s == 0.0f)
            continue;
        const float* r = recording.data() + first + k;
        for (qint64 l = 0; l < lags; ++l)
            c[l] += s * r[l];
    }
    qint64 best = 0;
    float peak = 0;
    for (qint64 l = 0; l < lags; ++l)
        if (std::abs(c[l]) > peak) {
            peak = std::abs(c[l]);
            best = l;
        }
    if (!(peak > 0.0f))
        return {};
    float sidelobe = 0;
    for (qint64 l = 0; l < lags; ++l)
        if (std::abs(l - best) > peakHalfWidthFrames)
            sidelobe = std::max(sidelobe, std::abs(c[l]));
    const double clarity =
        sidelobe > 0.0f ? double(peak) / double(sidelobe) : std::numeric_limits<double>::max();
    return {first + best, clarity};
}

std::vector<Play> agreeingPlays(std::span<const Play> plays) {
    std::vector<size_t> clear;
    for (size_t i = 0; i < plays.size(); ++i)
        if (plays[i].clarity >= minimumClarity)
            clear.push_back(i);
    std::sort(clear.begin(), clear.end(),
              [&](size_t a, size_t b) { return plays[a].delayNs < plays[b].delayNs; });
    // Within agreementFrames: both ends are stamps rounded to the nanosecond.
    const auto agree = [&](size_t low, size_t high) {
        return (plays[high].delayNs - plays[low].delayNs) * audioSampleRate <=
               qint64(agreementFrames) * nsPerSecond + 2 * audioSampleRate;
    };
    // The largest group of neighbours in delay that agree.
    size_t bestFirst = 0, bestCount = 0;
    for (size_t first = 0, last = 0; first < clear.size(); ++first) {
        last = std::max(last, first);
        while (last + 1 < clear.size() && agree(clear[first], clear[last + 1]))
            ++last;
        if (last - first + 1 > bestCount) {
            bestFirst = first;
            bestCount = last - first + 1;
        }
    }
    if (bestCount < size_t(playCount))
        return {};
    std::vector<size_t> group(clear.begin() + qsizetype(bestFirst),
                              clear.begin() + qsizetype(bestFirst + bestCount));
    std::sort(group.begin(), group.end());
    std::vector<Play> result;
    for (int i = 0; i < playCount; ++i)
        result.push_back(plays[group[size_t(i)]]);
    return result;
}

RoundTrip conclude(std::span<const Play> plays, int input) {
    const auto clear = std::count_if(plays.begin(), plays.end(),
                                     [](const Play& p) { return p.clarity >= minimumClarity; });
    if (clear < playCount)
        throw Error(QStringLiteral("Couldn't hear the test signal. Check the cable from the "
                                   "output to input %1, and the volume.")
                        .arg(input));
    const std::vector<Play> agreeing = agreeingPlays(plays);
    if (agreeing.empty())
        throw Error(QStringLiteral("The measurements didn't agree. Check that nothing else plays "
                                   "through the output or into input %1, then try again.")
                        .arg(input));
    RoundTrip result;
    qint64 sumNs = 0;
    for (const Play& p : agreeing) {
        result.measurementsSeconds.push_back(double(p.delayNs) / double(nsPerSecond));
        sumNs += p.delayNs;
    }
    result.seconds = double(sumNs) / double(agreeing.size()) / double(nsPerSecond);
    return result;
}

} // namespace latency

namespace {

using namespace latency;
using Clock = HostClock;

constexpr qint64 leadFrames = audioSampleRate / 10;      // from the start signal to the first play
constexpr qint64 periodFrames = audioSampleRate * 3 / 4; // longer than a signal and its window
constexpr qint64 recordingFrames = audioSampleRate * 24; // settling, plays and tail, with room
// Stamps run steady once this many buffers in a row follow their predecessors by their length.
constexpr int steadyBuffers = 16;
constexpr qint64 steadyToleranceNs = 250;
constexpr qint64 settleTimeoutNs = 6'000'000'000;

// Counts the buffers in a row whose stamps follow the previous one by its length. A stream's
// stamps can slew at first, while its timing settles; until then they say little. Audio thread.
class Steadiness {
public:
    void add(int frames, qint64 hostTimeNs) noexcept {
        const bool follows = m_frames > 0 && std::abs(hostTimeNs - m_lastNs -
                                                      framesToNs(m_frames)) <= steadyToleranceNs;
        m_count.store(follows ? m_count.load(std::memory_order_relaxed) + 1 : 0,
                      std::memory_order_relaxed);
        m_lastNs = hostTimeNs;
        m_frames = frames;
    }
    bool steady() const { return m_count.load(std::memory_order_relaxed) >= steadyBuffers; }

private:
    qint64 m_lastNs = 0;
    int m_frames = 0;
    std::atomic<int> m_count{0};
};

// One channel of the microphone with the stamp of every buffer, written by the input's thread
// into storage made beforehand. What is published (below the counters) no longer changes.
class Recorder {
public:
    struct Stamp {
        qint64 frame = 0;
        qint64 hostTimeNs = 0;
    };

    explicit Recorder(int channel)
        : m_channel(channel), m_samples(size_t(recordingFrames)),
          m_stamps(size_t(recordingFrames / 16 + 64)) {}

    // Audio thread.
    void add(const float* interleaved, int frames, int channels, qint64 hostTimeNs) noexcept {
        m_steadiness.add(frames, hostTimeNs);
        const qint64 at = m_recorded.load(std::memory_order_relaxed);
        const int count = m_stampCount.load(std::memory_order_relaxed);
        const qint64 n = std::min<qint64>(frames, recordingFrames - at);
        if (n <= 0 || count >= int(m_stamps.size()))
            return;
        m_stamps[size_t(count)] = {at, hostTimeNs};
        float* out = m_samples.data() + at;
        if (m_channel < channels)
            for (qint64 i = 0; i < n; ++i)
                out[i] = interleaved[i * channels + m_channel];
        else
            std::fill(out, out + n, 0.0f);
        m_stampCount.store(count + 1, std::memory_order_release);
        m_recorded.store(at + n, std::memory_order_release);
    }

    bool started() const { return m_stampCount.load(std::memory_order_acquire) > 0; }
    bool steady() const { return m_steadiness.steady(); }
    bool full() const { return m_recorded.load(std::memory_order_acquire) >= recordingFrames; }

    // The host time up to which the channel is recorded (a little less while a buffer lands).
    qint64 recordedUntilNs() const {
        const qint64 recorded = m_recorded.load(std::memory_order_acquire);
        const int count = m_stampCount.load(std::memory_order_acquire);
        if (count == 0)
            return std::numeric_limits<qint64>::min();
        const Stamp& last = m_stamps[size_t(count - 1)];
        return last.hostTimeNs + framesToNs(std::max<qint64>(0, recorded - last.frame));
    }

    std::span<const float> samples() const {
        return {m_samples.data(), size_t(m_recorded.load(std::memory_order_acquire))};
    }

    // The frame taken at a host instant, by the stamp of the buffer around it.
    qint64 frameAt(qint64 hostTimeNs) const {
        const Stamp& s = stampBefore([&](const Stamp& x) { return x.hostTimeNs <= hostTimeNs; });
        return s.frame + nsToFrames(hostTimeNs - s.hostTimeNs);
    }

    // The host instant a frame entered the device.
    qint64 timeOf(qint64 frame) const {
        const Stamp& s = stampBefore([&](const Stamp& x) { return x.frame <= frame; });
        return s.hostTimeNs + framesToNs(frame - s.frame);
    }

private:
    // The last stamp that satisfies `before` (stamps are in order), else the first.
    template <typename Before> const Stamp& stampBefore(Before before) const {
        const int count = std::max(1, m_stampCount.load(std::memory_order_acquire));
        const auto end = m_stamps.begin() + count;
        const auto it = std::partition_point(m_stamps.begin(), end, before);
        return it == m_stamps.begin() ? *it : *(it - 1);
    }

    const int m_channel;
    std::vector<float> m_samples;
    std::vector<Stamp> m_stamps;
    std::atomic<qint64> m_recorded{0};
    std::atomic<int> m_stampCount{0};
    Steadiness m_steadiness;
};

// Silence until told to begin; then, after a lead, the signal every periodFrames on every
// channel until told to finish (or maxPlays), noting the instant each play's first sample is
// heard as the output stream reports it.
class Player {
public:
    explicit Player(std::span<const float> signal) : m_signal(signal) {
        for (auto& h : m_heardNs)
            h.store(-1, std::memory_order_relaxed);
    }

    void begin() { m_begin.store(true, std::memory_order_relaxed); }
    void finish() { m_finish.store(true, std::memory_order_relaxed); }

    // Audio thread.
    void render(float* interleaved, int frames, int channels, qint64 hostTimeNs) noexcept {
        m_called.store(true, std::memory_order_relaxed);
        m_steadiness.add(frames, hostTimeNs);
        if (m_startFrame < 0 && m_begin.load(std::memory_order_relaxed))
            m_startFrame = m_frame + leadFrames;
        const bool finishing = m_finish.load(std::memory_order_relaxed);
        for (int f = 0; f < frames; ++f) {
            const qint64 position = m_startFrame < 0 ? -1 : m_frame + f - m_startFrame;
            float value = 0;
            if (position >= 0) {
                const qint64 play = position / periodFrames;
                const qint64 within = position % periodFrames;
                const bool going = play < maxPlays && (within > 0 || !finishing);
                if (going && play < m_started && within < qint64(m_signal.size())) {
                    value = m_signal[size_t(within)];
                } else if (going && within == 0) {
                    m_heardNs[size_t(play)].store(hostTimeNs + framesToNs(f),
                                                  std::memory_order_relaxed);
                    m_started = play + 1;
                    m_startedCount.store(int(m_started), std::memory_order_release);
                    value = m_signal[0];
                }
            }
            std::fill(interleaved + qsizetype(f) * channels,
                      interleaved + qsizetype(f + 1) * channels, value);
        }
        m_frame += frames;
    }

    bool called() const { return m_called.load(std::memory_order_relaxed); }
    bool steady() const { return m_steadiness.steady(); }
    int started() const { return m_startedCount.load(std::memory_order_acquire); }
    qint64 heardNs(int play) const {
        return m_heardNs[size_t(play)].load(std::memory_order_relaxed);
    }

private:
    std::span<const float> m_signal;
    // Audio thread only.
    qint64 m_frame = 0;
    qint64 m_startFrame = -1;
    qint64 m_started = 0;
    Steadiness m_steadiness;

    std::array<std::atomic<qint64>, maxPlays> m_heardNs;
    std::atomic<int> m_startedCount{0};
    std::atomic<bool> m_begin{false}, m_finish{false}, m_called{false};
};

// The first message either stream ends with.
class Problem {
public:
    void set(const QString& message) {
        std::lock_guard lock(m_mutex);
        if (m_message.isEmpty())
            m_message = message;
    }
    QString get() const {
        std::lock_guard lock(m_mutex);
        return m_message;
    }

private:
    mutable std::mutex m_mutex;
    QString m_message;
};

template <typename Done> void waitUntil(Done done, qint64 deadlineNs, const std::stop_token& stop) {
    while (!done()) {
        if (stop.stop_requested())
            throw Cancelled();
        if (hostNowNs() > deadlineNs)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

RoundTrip measureRoundTrip(SoundSystem& sound, const QString& outputId, const QString& microphoneId,
                           int channel, const std::stop_token& stop) {
    const std::vector<float> signal = testSignal();
    const int input = channel + 1;
    Recorder recorder(channel);
    Player player(signal);
    Problem problem;
    const auto onError = [&problem](const QString& message) { problem.set(message); };

    auto in = sound.openInput(
        microphoneId,
        [&recorder](const float* data, int frames, int channels, qint64 hostTimeNs) {
            recorder.add(data, frames, channels, hostTimeNs);
        },
        onError);
    if (channel < 0 || channel >= in->channels())
        throw Error(QStringLiteral("%1 has no input %2.").arg(in->device().name).arg(input));
    // A stream that ended on its own says why (its message may trail its flag by a moment).
    const auto check = [&](const auto& stream) {
        if (!stream->failed())
            return;
        waitUntil([&] { return !problem.get().isEmpty(); }, hostNowNs() + nsPerSecond / 2, stop);
        throw Error(problem.get().isEmpty()
                        ? QStringLiteral("%1 stopped.").arg(stream->device().name)
                        : problem.get());
    };
    waitUntil([&] { return recorder.started() || in->failed(); }, hostNowNs() + 3 * nsPerSecond,
              stop);
    check(in);
    if (!recorder.started())
        throw Error(QStringLiteral("%1 doesn't deliver any sound. Check that it is connected and "
                                   "that no other program holds it.")
                        .arg(in->device().name));

    auto out = sound.openOutput(
        outputId,
        [&player](float* data, int frames, int channels, qint64 hostTimeNs) {
            player.render(data, frames, channels, hostTimeNs);
        },
        onError);
    const auto broken = [&] { return in->failed() || out->failed() || recorder.full(); };
    // Stamps that still slew would move the plays apart; a device that never settles is measured
    // anyway, and the agreement check judges it.
    waitUntil([&] { return (recorder.steady() && player.steady()) || broken(); },
              hostNowNs() + settleTimeoutNs, stop);
    player.begin();

    const qint64 tailNs = framesToNs(latestFrames + signalFrames) + nsPerSecond / 20;
    const qint64 deadlineNs =
        hostNowNs() + framesToNs(leadFrames + maxPlays * periodFrames) + tailNs + 4 * nsPerSecond;
    std::vector<Play> plays;
    const auto unclear = [&] {
        return std::count_if(plays.begin(), plays.end(),
                             [](const Play& p) { return p.clarity < minimumClarity; });
    };
    while (int(plays.size()) < maxPlays && unclear() <= maxPlays - playCount &&
           agreeingPlays(plays).empty()) {
        const int next = int(plays.size());
        const auto recorded = [&] {
            return player.started() > next &&
                   recorder.recordedUntilNs() >= player.heardNs(next) + tailNs;
        };
        waitUntil([&] { return recorded() || broken(); }, deadlineNs, stop);
        check(in);
        check(out);
        if (!recorded())
            throw Error(player.called()
                            ? QStringLiteral("The measurement didn't finish in time. Check that "
                                             "the output and the microphone keep running.")
                            : QStringLiteral("%1 doesn't play. Check that it is connected and "
                                             "that no other program holds it.")
                                  .arg(out->device().name));
        const qint64 heard = player.heardNs(next);
        const qint64 expected = recorder.frameAt(heard);
        const Peak peak = findSignal(signal, recorder.samples(), expected - earliestFrames,
                                     expected + latestFrames);
        plays.push_back(peak.position < 0
                            ? Play{}
                            : Play{recorder.timeOf(peak.position) - heard, peak.clarity});
    }
    player.finish();
    out.reset();
    in.reset();
    return conclude(plays, input);
}

} // namespace reelbox
