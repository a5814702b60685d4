// The contract every sound backend keeps, run over the virtual devices, a private PipeWire daemon
// and ALSA on a stand-in card that ALSA loads as a plugin (tests/support/AlsaTestDevice.cpp).
// Then what ALSA does on its own.
#include "support/PrivatePipeWire.h"
#include "support/TestSupport.h"

#include "platform/sound/SoundSystem.h"
#include "platform/sound/internal/Alsa.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cmath>

using namespace reelbox;
using reelbox::test::waitFor;

namespace {

// hw:CARD=…,DEV=… is the card's raw device, plughw: the same through a plug. It has 80 inputs
// (of which a stream takes the first 64) and 2 outputs.
const char* const config = R"(
pcm_type.reelboxtest { lib "%1" }
pcm.!hw {
    @args [ CARD DEV ]
    @args.CARD { type string }
    @args.DEV { type integer default 0 }
    type reelboxtest
}
pcm.!plughw {
    @args [ CARD DEV ]
    @args.CARD { type string }
    @args.DEV { type integer default 0 }
    type plug
    slave.pcm { type reelboxtest }
}
)";

// Points ALSA at the stand-in card for the life of the object.
struct AlsaStandIn {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("asound.conf"));
    const test::ScopedEnvironment environment{"ALSA_CONFIG_PATH", path.toUtf8()};
    AlsaStandIn() {
        test::writeFile(
            path, QString::fromUtf8(config).arg(QStringLiteral(REELBOX_ALSA_TEST_PLUGIN)).toUtf8());
    }
};

// A backend: the devices to open, the channels each stream has, and the output channels asked
// for (0: the device's own).
struct Backend {
    const char* name;
    QString input, output;
    int inputChannels, outputChannels, askedOutputChannels;
};

class SoundContract : public ::testing::TestWithParam<Backend> {
protected:
    static void SetUpTestSuite() { test::ensureApplication(); }
    void SetUp() override {
        const QString name = QString::fromUtf8(GetParam().name);
        const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
        if (name == u"PipeWire") {
            daemon = std::make_unique<test::PrivatePipeWire>();
            daemon->addNullNode(u"reelbox-contract"_qs, u"Contract"_qs, u"Audio/Sink"_qs, 4);
        } else if (name == u"ALSA") {
            alsa = std::make_unique<AlsaStandIn>();
            qputenv("XDG_RUNTIME_DIR", empty.path().toUtf8()); // no server: ALSA directly
        }
        sound = std::make_unique<SoundSystem>();
        qputenv("XDG_RUNTIME_DIR", runtime);
        EXPECT_EQ(sound->hasServer(), name == u"PipeWire") << sound->serverProblem().toStdString();
    }
    QTemporaryDir empty;
    std::unique_ptr<test::PrivatePipeWire> daemon;
    std::unique_ptr<AlsaStandIn> alsa;
    std::unique_ptr<SoundSystem> sound;
};

// Holds the audio thread in a callback while the test destroys the stream.
struct Hold {
    std::atomic<bool> closing{false}, entered{false}, left{false};
    void operator()() {
        if (closing.load() && !entered.exchange(true)) {
            QThread::msleep(100);
            left = true;
        }
    }
    void close(auto& stream) {
        closing = true;
        EXPECT_TRUE(waitFor([&] { return entered.load(); }));
        stream.reset();
        EXPECT_TRUE(left.load()) << "destroyed while its callback ran";
    }
};

TEST_P(SoundContract, InputsAreStampedBufferByBufferOutputsPullAndBothStopPromptly) {
    const Backend& b = GetParam();
    constexpr size_t capacity = 4096;
    std::vector<qint64> stamps(capacity);
    std::vector<int> lengths(capacity);
    std::atomic<size_t> buffers{0};
    std::atomic<int> wrongChannels{0}, pulls{0};
    Hold holdIn, holdOut;
    const qint64 openedNs = std::chrono::steady_clock::now().time_since_epoch().count();
    auto in = sound->openInput(b.input, [&](const float*, int frames, int ch, qint64 host) {
        const size_t n = buffers.load();
        if (n < capacity) {
            stamps[n] = host;
            lengths[n] = frames;
        }
        if (ch != b.inputChannels)
            wrongChannels.fetch_add(1);
        buffers.store(n + 1);
        holdIn();
    });
    auto out = sound->openOutput(
        b.output,
        [&](float* d, int frames, int ch, qint64) {
            std::fill(d, d + frames * ch, 0.0f);
            if (ch != b.outputChannels)
                wrongChannels.fetch_add(1);
            pulls.fetch_add(1);
            holdOut();
        },
        {}, b.askedOutputChannels);
    EXPECT_EQ(in->channels(), b.inputChannels);
    EXPECT_EQ(out->channels(), b.outputChannels);
    EXPECT_TRUE(waitFor([&] { return buffers.load() > 20 && pulls.load() > 5; }, 5000));

    const size_t beforeClosing = buffers.load();
    const auto stopping = std::chrono::steady_clock::now();
    holdIn.close(in);
    holdOut.close(out);
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, std::chrono::milliseconds(800));
    const size_t delivered = buffers.load();
    const int pulled = pulls.load();
    QThread::msleep(50);
    EXPECT_EQ(buffers.load(), delivered) << "delivered after the stream was destroyed";
    EXPECT_EQ(pulls.load(), pulled) << "pulled after the stream was destroyed";
    EXPECT_EQ(wrongChannels.load(), 0);

    // Each buffer is stamped its predecessor's length later on the host clock. A starved machine
    // may lose whole cycles (an xrun): the stamps then jump by whole buffers, rarely.
    const size_t n = std::min(beforeClosing, capacity);
    ASSERT_GT(n, 10u);
    size_t lost = 0;
    for (size_t i = 1; i < n; ++i) {
        const double length = lengths[i - 1] * 1e9 / soundSampleRate;
        const double step = double(stamps[i] - stamps[i - 1]);
        if (std::abs(step - length) < 100'000)
            continue;
        ++lost;
        const double whole = std::round(step / length);
        EXPECT_GE(whole, 2.0) << "buffer " << i << " steps " << step << " ns";
        EXPECT_NEAR(step, whole * length, 100'000) << "buffer " << i;
    }
    EXPECT_LE(lost, n / 10);
    EXPECT_NEAR(double(stamps[0] - openedNs), 0.0, 500e6);
}

INSTANTIATE_TEST_SUITE_P(
    Backends, SoundContract,
    ::testing::Values(Backend{"Virtual", testMicrophoneId(), testOutputId(), 2, 2, 2},
                      Backend{"PipeWire", u"reelbox-contract"_qs, u"reelbox-contract"_qs, 4, 4, 4},
                      Backend{"ALSA", u"plughw:CARD=Test,DEV=0"_qs, u"plughw:CARD=Test,DEV=0"_qs,
                              64, 2, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// After an overrun (the reader stopped longer than the card's buffer) capture goes on.
TEST(SoundAlsa, CaptureGoesOnAfterAnOverrun) {
    const AlsaStandIn standIn;
    std::atomic<qint64> frames{0};
    std::atomic<bool> stall{false};
    std::atomic<int> errors{0};
    auto in = alsa::openInput(
        u"plughw:CARD=Test,DEV=0"_qs,
        [&](const float*, int n, int, qint64) {
            frames += n;
            if (stall.exchange(false))
                QThread::msleep(300); // the card's buffer holds 80 ms
        },
        [&](const QString&) { ++errors; });
    ASSERT_TRUE(waitFor([&] { return frames.load() >= 4800; }, 2000));
    stall = true;
    ASSERT_TRUE(waitFor([&] { return !stall.load(); }, 2000));
    const qint64 before = frames.load();
    EXPECT_TRUE(waitFor([&] { return frames.load() >= before + 24000; }, 3000))
        << "only " << frames.load() - before << " frames after the overrun";
    EXPECT_EQ(errors.load(), 0);
    EXPECT_FALSE(in->failed());
}

} // namespace
