// The PipeWire path against a private daemon with null 18-channel nodes.
#include "support/PrivatePipeWire.h"

#include "platform/Error.h"
#include "platform/sound/SoundSystem.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cmath>
#include <numbers>

using namespace reelbox;
using reelbox::test::PrivatePipeWire;

namespace {

constexpr int channels18 = 18;

double toneHz(int channel) {
    return 300.0 + 200.0 * channel;
}

// Energy of one frequency in one channel of an interleaved recording (Goertzel).
double energyAt(const std::vector<float>& samples, int channels, int channel, double hz) {
    const double w = 2 * std::numbers::pi * hz / soundSampleRate;
    const double k = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = size_t(channel); i < samples.size(); i += size_t(channels)) {
        const double s0 = samples[i] + k * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - k * s1 * s2;
}

// Collects what an input stream delivers into storage allocated up front.
struct Recorder {
    explicit Recorder(int channels, int seconds = 2)
        : channels(channels), samples(size_t(channels) * soundSampleRate * seconds), stamps(4096),
          lengths(4096) {}

    SoundInputCallback callback() {
        return [this](const float* data, int frames, int ch, qint64 hostNs) {
            const size_t n = buffers.load();
            if (n < stamps.size()) {
                stamps[n] = hostNs;
                lengths[n] = frames;
            }
            const size_t at = filled.load();
            const size_t count = std::min(size_t(frames) * size_t(ch), samples.size() - at);
            std::copy(data, data + count, samples.begin() + qsizetype(at));
            filled.store(at + count);
            buffers.store(n + 1);
        };
    }

    int channels;
    std::vector<float> samples;
    std::vector<qint64> stamps;
    std::vector<int> lengths;
    std::atomic<size_t> filled{0};
    std::atomic<size_t> buffers{0};
};

class SoundPipeWireTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureEventLoop(); }
    // Throws, and so fails the test, when the daemon can't start.
    PrivatePipeWire daemon;
};

TEST_F(SoundPipeWireTest, ListsSourcesSinksAndDefaults) {
    daemon.addNullNode(u"reelbox-sink18"_qs, u"Eighteen Out"_qs, u"Audio/Sink"_qs, channels18);
    daemon.addNullNode(u"reelbox-mic4"_qs, u"Four In"_qs, u"Audio/Source/Virtual"_qs, 4);
    SoundSystem sound;
    ASSERT_TRUE(sound.hasServer()) << sound.serverProblem().toStdString();

    // With real devices present the virtual ones are offered only when asked for.
    qunsetenv("REELBOX_VIRTUAL_DEVICES");
    for (const SoundDevice& d : sound.outputs())
        EXPECT_FALSE(d.isVirtual) << d.id.toStdString();
    for (const SoundDevice& d : sound.microphones())
        EXPECT_FALSE(d.isVirtual) << d.id.toStdString();
    qputenv("REELBOX_VIRTUAL_DEVICES", "1");

    const auto outputs = sound.outputs();
    const auto microphones = sound.microphones();
    auto find = [](const std::vector<SoundDevice>& list, const QString& id) {
        return std::find_if(list.begin(), list.end(),
                            [&](const SoundDevice& d) { return d.id == id; });
    };
    ASSERT_NE(find(outputs, u"reelbox-sink18"_qs), outputs.end());
    EXPECT_EQ(find(outputs, u"reelbox-sink18"_qs)->name, u"Eighteen Out"_qs);
    EXPECT_EQ(find(outputs, u"reelbox-sink18"_qs)->channels, 18);
    EXPECT_EQ(find(outputs, u"reelbox-mic4"_qs), outputs.end()) << "a source is no output";
    ASSERT_NE(find(microphones, u"reelbox-mic4"_qs), microphones.end());
    EXPECT_EQ(find(microphones, u"reelbox-mic4"_qs)->channels, 4);
    EXPECT_EQ(find(microphones, u"reelbox-sink18"_qs), microphones.end());
    // The tests ask for the virtual devices too; they come after the real ones.
    EXPECT_EQ(outputs.back().id.toStdString(), testOutputId().toStdString());
    EXPECT_EQ(microphones.back().id.toStdString(), testMicrophoneId().toStdString());

    // The session manager picks the only sink and source as defaults.
    EXPECT_TRUE(test::waitUntil([&] {
        return sound.defaultOutputId() == u"reelbox-sink18" &&
               sound.defaultMicrophoneId() == u"reelbox-mic4";
    })) << sound.defaultOutputId().toStdString()
        << " / " << sound.defaultMicrophoneId().toStdString();
}

TEST_F(SoundPipeWireTest, EighteenChannelsComeBackOneToOne) {
    daemon.addNullNode(u"reelbox-sink18"_qs, u"Eighteen Out"_qs, u"Audio/Sink"_qs, channels18);
    SoundSystem sound;
    ASSERT_TRUE(sound.hasServer()) << sound.serverProblem().toStdString();

    std::atomic<qint64> playedFrames{0};
    auto out = sound.openOutput(
        u"reelbox-sink18"_qs,
        [&](float* data, int frames, int ch, qint64) {
            const qint64 start = playedFrames.fetch_add(frames);
            for (int i = 0; i < frames; ++i)
                for (int c = 0; c < ch; ++c)
                    data[i * ch + c] = 0.04f * float(std::sin(2 * std::numbers::pi * toneHz(c) *
                                                              double(start + i) / soundSampleRate));
        },
        {}, channels18);
    EXPECT_EQ(out->channels(), channels18);

    Recorder recorder(channels18);
    auto in = sound.openInput(u"reelbox-sink18"_qs, recorder.callback());
    ASSERT_EQ(in->channels(), channels18);
    ASSERT_TRUE(test::waitUntil([&] { return recorder.filled.load() >= 18u * 48000; }, 5000))
        << "only " << recorder.filled.load() << " samples";
    in.reset();
    out.reset();

    // The longest stretch without a lost cycle (stamps that step by more than a buffer).
    const size_t buffers = std::min(recorder.buffers.load(), recorder.stamps.size());
    ASSERT_GT(buffers, 10u);
    std::vector<size_t> startFrame(buffers + 1, 0);
    for (size_t i = 0; i < buffers; ++i)
        startFrame[i + 1] = startFrame[i] + size_t(recorder.lengths[i]);
    size_t runStart = 0, bestStart = 0, bestEnd = 0;
    for (size_t i = 1; i <= buffers; ++i) {
        if (i < buffers) {
            const double length = recorder.lengths[i - 1] * 1e9 / soundSampleRate;
            const double step = double(recorder.stamps[i] - recorder.stamps[i - 1]);
            if (std::abs(step - length) < 100'000)
                continue;
        }
        if (i - runStart > bestEnd - bestStart) {
            bestStart = runStart;
            bestEnd = i;
        }
        runStart = i;
    }

    // In the longest gapless stretch (50 ms at least) after the first 0.1 s, every channel carries
    // its own tone.
    const size_t first = std::max<size_t>(startFrame[bestStart], 4800);
    const size_t last = std::min(startFrame[bestEnd], recorder.filled.load() / channels18);
    ASSERT_GE(last, first + 2400) << "no gapless 50 ms";
    const std::vector<float> steady(recorder.samples.begin() + qsizetype(first * channels18),
                                    recorder.samples.begin() + qsizetype(last * channels18));
    for (int c = 0; c < channels18; ++c) {
        const double own = energyAt(steady, channels18, c, toneHz(c));
        for (int other = 0; other < channels18; ++other) {
            if (other == c)
                continue;
            EXPECT_LT(energyAt(steady, channels18, c, toneHz(other)), own * 1e-2)
                << "channel " << c << " holds the tone of channel " << other;
        }
    }
}

TEST_F(SoundPipeWireTest, ReportsNodesAddedAndRemovedWhileRunning) {
    SoundSystem sound;
    ASSERT_TRUE(sound.hasServer()) << sound.serverProblem().toStdString();
    QSignalSpy added(&sound, &SoundSystem::deviceAdded);
    QSignalSpy removed(&sound, &SoundSystem::deviceRemoved);

    daemon.addNullNode(u"reelbox-plugged"_qs, u"Plugged"_qs, u"Audio/Source/Virtual"_qs, 2);
    ASSERT_TRUE(test::waitUntil([&] { return !added.isEmpty(); }));
    EXPECT_EQ(added.first().first().toString(), u"reelbox-plugged"_qs);
    EXPECT_EQ(sound.microphones().front().id, u"reelbox-plugged"_qs);

    daemon.removeNode(u"reelbox-plugged"_qs);
    ASSERT_TRUE(test::waitUntil([&] { return !removed.isEmpty(); }));
    EXPECT_EQ(removed.first().first().toString(), u"reelbox-plugged"_qs);
    for (const SoundDevice& d : sound.microphones())
        EXPECT_NE(d.id, u"reelbox-plugged"_qs);
}

TEST_F(SoundPipeWireTest, DeviceRemovedWhileStreamingEndsTheStreamWithAnError) {
    daemon.addNullNode(u"reelbox-doomed"_qs, u"Doomed"_qs, u"Audio/Sink"_qs, 2);
    SoundSystem sound;
    auto out = sound.openOutput(u"reelbox-doomed"_qs, [](float* d, int f, int c, qint64) {
        std::fill(d, d + f * c, 0.1f);
    });
    std::atomic<int> errors{0};
    QString message;
    Recorder recorder(2);
    auto in = sound.openInput(u"reelbox-doomed"_qs, recorder.callback(), [&](const QString& m) {
        message = m;
        errors.fetch_add(1);
    });
    ASSERT_TRUE(test::waitUntil([&] { return recorder.buffers.load() > 2; }));

    daemon.removeNode(u"reelbox-doomed"_qs);
    ASSERT_TRUE(test::waitUntil([&] { return errors.load() > 0; }));
    EXPECT_TRUE(in->failed());
    // Named as the user knows it, not by its internal name.
    EXPECT_EQ(message, u"Doomed was disconnected."_qs);
    const size_t after = recorder.buffers.load();
    QThread::msleep(100);
    EXPECT_EQ(recorder.buffers.load(), after) << "nothing is delivered after the error";
    EXPECT_EQ(errors.load(), 1);
    in.reset(); // neither hangs nor crashes
    out.reset();

    // The device is gone: opening it again fails with a message.
    EXPECT_THROW(sound.openInput(u"reelbox-doomed"_qs, {}), Error);
}

// A click played to be heard at instant H comes back from the sink's monitor stamped H: the
// output's "heard" clock and the input's capture clock agree.
TEST_F(SoundPipeWireTest, WhatIsHeardAtAnInstantIsCapturedStampedWithIt) {
    daemon.addNullNode(u"reelbox-loop"_qs, u"Loop"_qs, u"Audio/Sink"_qs, 2);
    SoundSystem sound;
    std::atomic<qint64> clickAt{0}, capturedAt{0};
    auto in =
        sound.openInput(u"reelbox-loop"_qs, [&](const float* d, int frames, int ch, qint64 host) {
            for (int i = 0; i < frames; ++i)
                if (d[i * ch] > 0.5f && capturedAt.load() == 0)
                    capturedAt = host + qint64(i) * 1'000'000'000 / soundSampleRate;
        });
    auto out =
        sound.openOutput(u"reelbox-loop"_qs, [&](float* d, int frames, int ch, qint64 heard) {
            std::fill(d, d + frames * ch, 0.0f);
            qint64 none = 0;
            clickAt.compare_exchange_strong(none, heard + 200'000'000);
            const qint64 offset = (clickAt.load() - heard) * soundSampleRate / 1'000'000'000;
            if (offset >= 0 && offset < frames)
                for (int c = 0; c < ch; ++c)
                    d[offset * ch + c] = 1.0f;
        });
    ASSERT_TRUE(test::waitUntil([&] { return capturedAt.load() != 0; }, 3000));
    EXPECT_GT(out->latencyNs(), -1);
    EXPECT_NEAR(double(capturedAt.load() - clickAt.load()), 0.0, 1'000'000)
        << "captured " << (capturedAt.load() - clickAt.load()) / 1e6 << " ms after it was heard";
}

TEST_F(SoundPipeWireTest, ServerStoppingWhileStreamingEndsTheStreams) {
    daemon.addNullNode(u"reelbox-short-lived"_qs, u"Short"_qs, u"Audio/Sink"_qs, 2);
    SoundSystem sound;
    std::atomic<int> errors{0};
    Recorder recorder(2);
    auto in = sound.openInput(u"reelbox-short-lived"_qs, recorder.callback(),
                              [&](const QString&) { errors.fetch_add(1); });
    auto out = sound.openOutput(u"reelbox-short-lived"_qs, {},
                                [&](const QString&) { errors.fetch_add(1); });
    ASSERT_TRUE(test::waitUntil([&] { return recorder.buffers.load() > 2; }));
    daemon.stop();
    EXPECT_TRUE(test::waitUntil([&] { return errors.load() == 2; }));
    EXPECT_TRUE(in->failed());
    EXPECT_TRUE(out->failed());
    in.reset();
    out.reset();
}

// A server that stops running cycles without any state change (frozen, its links gone): the
// stream ends with an error instead of reading as silence for ever.
TEST_F(SoundPipeWireTest, AStreamThatStopsDeliveringEndsWithAnError) {
    daemon.addNullNode(u"reelbox-frozen"_qs, u"Frozen"_qs, u"Audio/Sink"_qs, 2);
    SoundSystem sound;
    std::atomic<int> errors{0};
    QString message;
    Recorder recorder(2);
    auto in = sound.openInput(u"reelbox-frozen"_qs, recorder.callback(), [&](const QString& m) {
        message = m;
        errors.fetch_add(1);
    });
    ASSERT_TRUE(test::waitUntil([&] { return recorder.buffers.load() > 2; }));
    daemon.freeze(true);
    EXPECT_TRUE(test::waitUntil([&] { return errors.load() > 0; }, 5000));
    daemon.freeze(false);
    EXPECT_TRUE(in->failed());
    EXPECT_EQ(message, u"Frozen stopped sending sound."_qs);
    EXPECT_EQ(errors.load(), 1);
}

// After the server goes away its devices leave the lists; when it is back they come again and
// can be opened, without restarting Reelbox.
TEST_F(SoundPipeWireTest, AServerRestartIsFollowed) {
    daemon.addNullNode(u"reelbox-before"_qs, u"Before"_qs, u"Audio/Sink"_qs, 2);
    SoundSystem sound;
    ASSERT_TRUE(sound.hasServer()) << sound.serverProblem().toStdString();
    QSignalSpy removed(&sound, &SoundSystem::deviceRemoved);
    auto listed = [&](const QString& id) {
        const auto outputs = sound.outputs();
        return std::any_of(outputs.begin(), outputs.end(),
                           [&](const SoundDevice& d) { return d.id == id; });
    };
    ASSERT_TRUE(listed(u"reelbox-before"_qs));

    daemon.stop(true);
    EXPECT_TRUE(test::waitUntil([&] { return !listed(u"reelbox-before"_qs); }));
    EXPECT_TRUE(
        test::waitUntil([&] { return removed.contains({QVariant(u"reelbox-before"_qs)}); }));

    daemon.start();
    daemon.addNullNode(u"reelbox-after"_qs, u"After"_qs, u"Audio/Sink"_qs, 2);
    ASSERT_TRUE(test::waitUntil([&] { return listed(u"reelbox-after"_qs); }, 5000));
    Recorder recorder(2);
    auto in = sound.openInput(u"reelbox-after"_qs, recorder.callback());
    EXPECT_TRUE(test::waitUntil([&] { return recorder.buffers.load() > 2; }));
}

} // namespace
