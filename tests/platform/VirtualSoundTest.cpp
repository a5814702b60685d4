// What only the virtual devices do (the stream contract: SoundStreamTest): drift on the host
// clock, the loopback cable, and their offer when no sound server runs.
#include "support/TestSupport.h"

#include "platform/Error.h"
#include "platform/HostClock.h"
#include "platform/sound/SoundSystem.h"
#include "platform/virtual/TestMicrophone.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace reelbox;

namespace {

class TestMicrophoneTiming : public ::testing::TestWithParam<double> {};

TEST_P(TestMicrophoneTiming, BuffersFollowTheSkewedSampleClockOfTheHost) {
    const double ppm = GetParam();
    TestMicrophone::Options options;
    options.channels = 3;
    options.ppm = ppm;
    const TestMicrophoneSignal signal(3);
    // Each delivered buffer, checked against the signal the frame index predicts.
    constexpr size_t capacity = 256;
    std::vector<qint64> stamps(capacity), lateness(capacity);
    std::atomic<size_t> count{0};
    std::atomic<int> mismatches{0};
    {
        TestMicrophone mic(
            options, nullptr, [&](const float* data, int frames, int ch, qint64 host) {
                const size_t n = count.load();
                if (n >= capacity)
                    return;
                stamps[n] = host;
                lateness[n] = hostNowNs() - host;
                // Tones by the frame, a click from the first frame at or after each whole
                // second of the host clock (sample() gives a click at frame 0 of a second).
                const qint64 first = TestMicrophone::frameAtOrAfter(host, ppm);
                for (int i = 0; i < frames; ++i) {
                    const qint64 at = TestMicrophone::hostTimeOfFrame(first + i, ppm);
                    const qint64 second = at / 1'000'000'000;
                    const qint64 click =
                        first + i - TestMicrophone::frameAtOrAfter(second * 1'000'000'000, ppm);
                    for (int c = 0; c < ch; ++c) {
                        if (click >= signal.clickFrames() &&
                            (first + i) % 48000 < signal.clickFrames())
                            continue; // no tone to compare against here
                        const float want = click < signal.clickFrames()
                                               ? signal.sample(c, click)
                                               : signal.sample(c, first + i);
                        if (data[i * ch + c] != want)
                            mismatches.fetch_add(1);
                    }
                }
                count.store(n + 1);
            });
        QThread::msleep(200);
    }
    // Frames fall on the host clock from its zero, also three days on.
    EXPECT_EQ(TestMicrophone::hostTimeOfFrame(48000LL * 86400 * 3, ppm),
              std::llround(86400 * 3e9 / (1 + ppm / 1e6)));
    EXPECT_EQ(TestMicrophone::frameAtOrAfter(5'000'000'000, 0), 240000);
    const size_t n = count.load();
    ASSERT_GE(n, 15u);
    EXPECT_EQ(mismatches.load(), 0) << "samples differ from the frame the stamp names";
    const double step = 480 * 1e9 / (48000 * (1 + ppm / 1e6));
    for (size_t i = 0; i < n; ++i) {
        // The stamp is exactly a frame instant of the skewed clock.
        const qint64 frame = TestMicrophone::frameAtOrAfter(stamps[i], ppm);
        EXPECT_EQ(TestMicrophone::hostTimeOfFrame(frame, ppm), stamps[i]);
        if (i > 0) {
            EXPECT_NEAR(double(stamps[i] - stamps[i - 1]), step, 1.0);
        }
        EXPECT_GE(lateness[i], qint64(step) - 1) << "delivered before the buffer was taken";
    }
}

INSTANTIATE_TEST_SUITE_P(Ppm, TestMicrophoneTiming, ::testing::Values(0.0, 100.0, -250.0));

class LoopbackTest : public ::testing::TestWithParam<int> {
protected:
    const test::ScopedEnvironment delay{"REELBOX_TEST_LOOPBACK_MS", QByteArray::number(GetParam())};
};

TEST_P(LoopbackTest, TheMicrophoneHearsTheOutputOnItsLastChannelLaterByTheDelay) {
    const int delayMs = GetParam();
    SoundSystem sound;
    // Another output plays a steady 0.25, heard summed with the click; it reports 10 ms and is
    // asked for each buffer that long before it is heard, at the rate of the host clock.
    std::atomic<int> calls{0};
    std::atomic<qint64> firstHeard{0}, lastHeard{0}, firstAt{0}, lastAt{0};
    auto hum = sound.openOutput(testOutputId(), [&](float* d, int frames, int ch, qint64 heard) {
        std::fill(d, d + frames * ch, 0.25f);
        const qint64 now = hostNowNs();
        if (calls.fetch_add(1) == 0) {
            firstHeard = heard;
            firstAt = now;
        }
        lastHeard = heard;
        lastAt = now;
    });
    EXPECT_EQ(hum->latencyNs(), 10'000'000);
    QThread::msleep(30);
    // A click 60 ms after the output's first heard instant.
    std::atomic<qint64> clickAt{0};
    auto output = sound.openOutput(testOutputId(), [&](float* d, int frames, int ch, qint64 heard) {
        std::fill(d, d + frames * ch, 0.0f);
        qint64 expected = 0;
        clickAt.compare_exchange_strong(expected, heard + 60'000'000);
        const qint64 offset = (clickAt.load() - heard) * 48000 / 1'000'000'000;
        if (offset >= 0 && offset < frames)
            for (int c = 0; c < ch; ++c)
                d[offset * ch + c] = 0.75f;
    });
    std::atomic<qint64> heardAt{0};
    std::atomic<int> otherNonZero{0};
    auto mic =
        sound.openInput(testMicrophoneId(), [&](const float* d, int frames, int ch, qint64 host) {
            for (int i = 0; i < frames; ++i) {
                const float v = d[i * ch + ch - 1];
                if (v == 1.0f && heardAt.load() == 0)
                    heardAt = host + qint64(i) * 1'000'000'000 / 48000;
                else if (v != 0.0f && v != 0.25f)
                    otherNonZero.fetch_add(1);
            }
        });
    ASSERT_TRUE(test::waitFor([&] { return heardAt.load() != 0; }, 2000));
    mic.reset();
    output.reset();
    hum.reset();
    EXPECT_NEAR(double(heardAt.load() - clickAt.load()), delayMs * 1e6, 21'000)
        << "within one frame";
    EXPECT_EQ(otherNonZero.load(), 0) << "the last channel carries only what the outputs played";
    ASSERT_GT(calls.load(), 5);
    EXPECT_LE(firstHeard - firstAt, 10'000'000);
    const double heardSpan = double(lastHeard - firstHeard);
    EXPECT_NEAR(heardSpan, double(calls.load() - 1) * 10e6, 1.0);
    EXPECT_NEAR(double(lastAt - firstAt), heardSpan, 30e6);
}

INSTANTIATE_TEST_SUITE_P(DelayMs, LoopbackTest, ::testing::Values(0, 25, 130));

// With no sound server, or one that takes the connection but never answers (given up on in
// time), the virtual devices are offered unasked and what is missing is named.
TEST(SoundWithoutServer, OffersTheVirtualDevicesAndNamesWhatIsMissing) {
    QTemporaryDir empty, silentDir;
    const int silent = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(silent, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = silentDir.filePath(u"pipewire-0"_qs).toUtf8();
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    ASSERT_EQ(::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(silent, 4), 0);
    for (const auto& [runtime, problem] :
         {std::pair(empty.path(), u"No sound server is running (PipeWire)"_qs),
          std::pair(silentDir.path(), u"doesn't answer"_qs)}) {
        SCOPED_TRACE(problem.toStdString());
        const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", runtime.toUtf8());
        qunsetenv("REELBOX_VIRTUAL_DEVICES");
        const auto start = std::chrono::steady_clock::now();
        SoundSystem sound;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
        qputenv("XDG_RUNTIME_DIR", saved);
        qputenv("REELBOX_VIRTUAL_DEVICES", "1");

        EXPECT_FALSE(sound.hasServer());
        EXPECT_TRUE(sound.serverProblem().contains(problem)) << sound.serverProblem().toStdString();
        ASSERT_EQ(sound.microphones().size(), 1u);
        EXPECT_EQ(sound.microphones()[0].name, u"Test Microphone"_qs);
        EXPECT_EQ(sound.microphones()[0].channels, 2);
        ASSERT_EQ(sound.outputs().size(), 1u);
        EXPECT_EQ(sound.outputs()[0].name, u"Test Output"_qs);
        EXPECT_TRUE(sound.defaultMicrophoneId().isEmpty());
        try {
            sound.openInput(u"alsa_input.usb-interface"_qs, {});
            FAIL() << "a device that isn't there opened";
        } catch (const Error& e) {
            EXPECT_TRUE(e.message().startsWith(sound.serverProblem())) << e.message().toStdString();
            EXPECT_TRUE(e.message().contains(u"alsa_input.usb-interface"))
                << e.message().toStdString();
        }
        const test::ScopedEnvironment channels("REELBOX_TEST_MIC_CHANNELS", "5");
        EXPECT_EQ(sound.microphones()[0].channels, 5);
        EXPECT_EQ(sound.openInput(testMicrophoneId(), {})->channels(), 5);
    }
    ::close(silent);
}

} // namespace
