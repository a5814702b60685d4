// The ALSA path against a stand-in card that ALSA itself loads as a plugin (tests/support/
// AlsaTestDevice.cpp): it runs in real time, overruns when its reader falls behind and, like a
// card's raw device, opens once per direction.
#include "platform/sound/internal/Alsa.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <chrono>

using namespace reelbox;

namespace {

// hw:CARD=…,DEV=n is the card's raw device n, plughw: the same through a plug. Device 0 has 10
// inputs and 4 outputs, device 1 80 inputs and 2 outputs.
const char* const config = R"(
pcm_type.reelboxtest { lib "%1" }
pcm.!hw {
    @args [ CARD DEV ]
    @args.CARD { type string }
    @args.DEV { type integer default 0 }
    type reelboxtest
    device $DEV
}
pcm.!plughw {
    @args [ CARD DEV ]
    @args.CARD { type string }
    @args.DEV { type integer default 0 }
    type plug
    slave.pcm { type reelboxtest device $DEV }
}
)";

bool waitFor(const std::function<bool()>& done, int ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QThread::msleep(5);
    }
    return true;
}

class SoundAlsaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = std::make_unique<QTemporaryDir>();
        QFile file(dir->filePath(QStringLiteral("asound.conf")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            QString::fromUtf8(config).arg(QStringLiteral(REELBOX_ALSA_TEST_PLUGIN)).toUtf8());
        file.close();
        saved = qgetenv("ALSA_CONFIG_PATH");
        qputenv("ALSA_CONFIG_PATH", file.fileName().toUtf8());
    }
    static void TearDownTestSuite() {
        qputenv("ALSA_CONFIG_PATH", saved);
        dir.reset();
    }
    static inline std::unique_ptr<QTemporaryDir> dir;
    static inline QByteArray saved;
};

// An overrun (the reader stopped for longer than the card's buffer) loses those frames, and
// then the capture goes on.
TEST_F(SoundAlsaTest, CaptureGoesOnAfterAnOverrun) {
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

// The channel count is the card's own for the stream's direction, read before the device is
// opened (a card's raw device opens once); a card with more than 64 inputs gives its first 64.
TEST_F(SoundAlsaTest, AStreamHasTheCardsOwnChannelsForItsDirection) {
    const struct {
        const char* device;
        int inputs;
        int outputs;
    } cases[] = {{"plughw:CARD=Test,DEV=0", 10, 4}, {"plughw:CARD=Test,DEV=1", 64, 2}};
    for (const auto& c : cases) {
        auto in = alsa::openInput(QString::fromUtf8(c.device), {}, {});
        EXPECT_EQ(in->channels(), c.inputs) << c.device;
        in.reset();
        auto out = alsa::openOutput(QString::fromUtf8(c.device), 0, {}, {});
        EXPECT_EQ(out->channels(), c.outputs) << c.device;
    }
}

} // namespace
