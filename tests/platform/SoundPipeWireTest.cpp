// What only the PipeWire path does, against a private daemon with null nodes (the stream
// contract: SoundStreamTest).
#include "support/PrivatePipeWire.h"
#include "support/TestSupport.h"

#include "platform/Error.h"
#include "platform/sound/SoundSystem.h"

#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QThread>

#include <atomic>
#include <functional>

using namespace reelbox;
using reelbox::test::PrivatePipeWire;
using reelbox::test::waitFor;

namespace {

bool listed(const std::vector<SoundDevice>& devices, const QString& id) {
    return std::any_of(devices.begin(), devices.end(),
                       [&](const SoundDevice& d) { return d.id == id; });
}

class SoundPipeWireTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureApplication(); }
    // Throws, and so fails the test, when the daemon can't start.
    PrivatePipeWire daemon;
};

// Sources, sinks and defaults are listed and follow nodes added and removed, also across a
// restart of the server.
TEST_F(SoundPipeWireTest, DevicesAreListedAndComeAndGoAcrossAServerRestart) {
    daemon.addNullNode(u"reelbox-sink18"_qs, u"Eighteen Out"_qs, u"Audio/Sink"_qs, 18);
    daemon.addNullNode(u"reelbox-mic4"_qs, u"Four In"_qs, u"Audio/Source/Virtual"_qs, 4);
    SoundSystem sound;
    ASSERT_TRUE(sound.hasServer()) << sound.serverProblem().toStdString();
    QSignalSpy added(&sound, &SoundSystem::deviceAdded);
    QSignalSpy removed(&sound, &SoundSystem::deviceRemoved);

    // With real devices present the virtual ones are offered only when asked for.
    qputenv("REELBOX_VIRTUAL_DEVICES", "0");
    for (const auto& list : {sound.outputs(), sound.microphones()})
        for (const SoundDevice& d : list)
            EXPECT_FALSE(d.isVirtual) << d.id.toStdString();
    qputenv("REELBOX_VIRTUAL_DEVICES", "1");
    const auto outputs = sound.outputs();
    const auto microphones = sound.microphones();
    ASSERT_GE(outputs.size(), 2u);
    ASSERT_GE(microphones.size(), 2u);
    EXPECT_EQ(outputs[0].id, u"reelbox-sink18"_qs);
    EXPECT_EQ(outputs[0].name, u"Eighteen Out"_qs);
    EXPECT_EQ(outputs[0].channels, 18);
    EXPECT_FALSE(listed(outputs, u"reelbox-mic4"_qs)) << "a source is no output";
    EXPECT_EQ(microphones[0].id, u"reelbox-mic4"_qs);
    EXPECT_EQ(microphones[0].channels, 4);
    EXPECT_FALSE(listed(microphones, u"reelbox-sink18"_qs));
    // The virtual devices come after the real ones.
    EXPECT_EQ(outputs.back().id.toStdString(), testOutputId().toStdString());
    EXPECT_EQ(microphones.back().id.toStdString(), testMicrophoneId().toStdString());
    EXPECT_TRUE(waitFor([&] {
        return sound.defaultOutputId() == u"reelbox-sink18" &&
               sound.defaultMicrophoneId() == u"reelbox-mic4";
    })) << sound.defaultOutputId().toStdString()
        << " / " << sound.defaultMicrophoneId().toStdString();

    daemon.addNullNode(u"reelbox-plugged"_qs, u"Plugged"_qs, u"Audio/Source/Virtual"_qs, 2);
    ASSERT_TRUE(waitFor([&] { return !added.isEmpty(); }));
    EXPECT_EQ(added.first().first().toString(), u"reelbox-plugged"_qs);
    EXPECT_TRUE(listed(sound.microphones(), u"reelbox-plugged"_qs));
    daemon.removeNode(u"reelbox-plugged"_qs);
    ASSERT_TRUE(waitFor([&] { return !removed.isEmpty(); }));
    EXPECT_EQ(removed.first().first().toString(), u"reelbox-plugged"_qs);
    EXPECT_FALSE(listed(sound.microphones(), u"reelbox-plugged"_qs));

    daemon.stop(true);
    EXPECT_TRUE(waitFor([&] { return !listed(sound.outputs(), u"reelbox-sink18"_qs); }));
    EXPECT_TRUE(waitFor([&] { return removed.contains({QVariant(u"reelbox-sink18"_qs)}); }));
    daemon.start();
    daemon.addNullNode(u"reelbox-after"_qs, u"After"_qs, u"Audio/Sink"_qs, 2);
    ASSERT_TRUE(waitFor([&] { return listed(sound.outputs(), u"reelbox-after"_qs); }, 5000));
    std::atomic<int> buffers{0};
    auto in = sound.openInput(u"reelbox-after"_qs, [&](auto...) { buffers.fetch_add(1); });
    EXPECT_TRUE(waitFor([&] { return buffers.load() > 2; }));
}

// Channel c plays the level (c + 1) / 32, and one frame to be heard at instant H is 1.0. From the
// sink's monitor each frame is silence (a lost cycle), that click stamped H, or every channel at
// its own level.
TEST_F(SoundPipeWireTest, EighteenChannelsComeBackOneToOneStampedWhenHeard) {
    constexpr int channels = 18;
    daemon.addNullNode(u"reelbox-sink18"_qs, u"Eighteen Out"_qs, u"Audio/Sink"_qs, channels);
    SoundSystem sound;
    ASSERT_TRUE(sound.hasServer()) << sound.serverProblem().toStdString();
    auto level = [](int c) { return float(c + 1) / 32; };
    std::atomic<qint64> clickAt{0}, capturedAt{0};
    auto out = sound.openOutput(
        u"reelbox-sink18"_qs,
        [&](float* data, int frames, int ch, qint64 heard) {
            for (int i = 0; i < frames * ch; ++i)
                data[i] = level(i % ch);
            qint64 none = 0;
            clickAt.compare_exchange_strong(none, heard + 200'000'000);
            const qint64 offset = (clickAt.load() - heard) * soundSampleRate / 1'000'000'000;
            if (offset >= 0 && offset < frames)
                std::fill(data + offset * ch, data + (offset + 1) * ch, 1.0f);
        },
        {}, channels);
    std::atomic<int> levelled{0}, wrong{0};
    auto in = sound.openInput(
        u"reelbox-sink18"_qs, [&](const float* data, int frames, int ch, qint64 host) {
            for (int i = 0; i < frames; ++i) {
                const float* frame = data + i * ch;
                if (std::all_of(frame, frame + ch, [](float v) { return v == 0.0f; }))
                    continue;
                if (frame[0] == 1.0f && capturedAt.load() == 0) {
                    capturedAt = host + qint64(i) * 1'000'000'000 / soundSampleRate;
                    continue;
                }
                bool own = ch == channels;
                for (int c = 0; c < ch; ++c)
                    own = own && std::abs(frame[c] - level(c)) < 1e-6f;
                (own ? levelled : wrong).fetch_add(1);
            }
        });
    EXPECT_TRUE(waitFor([&] { return levelled.load() >= 48000 && capturedAt.load() != 0; }, 5000))
        << levelled.load();
    in.reset();
    out.reset();
    EXPECT_EQ(wrong.load(), 0) << "frames where a channel holds another's level";
    EXPECT_NEAR(double(capturedAt.load() - clickAt.load()), 0.0, 1'000'000)
        << "captured " << (capturedAt.load() - clickAt.load()) / 1e6 << " ms after it was heard";
}

// A stream whose device is removed or whose server stops or freezes ends with one error naming
// the device as the user knows it, and delivers nothing afterwards.
TEST_F(SoundPipeWireTest, AStreamWhoseDeviceOrServerGoesEndsWithOneError) {
    struct Case {
        const char* name;
        std::function<void(PrivatePipeWire&)> breakDown, after;
        QString message;
    };
    const Case cases[] = {
        {"device removed",
         [](PrivatePipeWire& d) { d.removeNode(u"reelbox-doomed"_qs); },
         {},
         u"Doomed was disconnected."_qs},
        {"server frozen", [](PrivatePipeWire& d) { d.freeze(true); },
         [](PrivatePipeWire& d) {
             d.freeze(false);
             d.removeNode(u"reelbox-doomed"_qs);
         },
         u"Doomed stopped sending sound."_qs},
        {"server stopped", [](PrivatePipeWire& d) { d.stop(true); },
         [](PrivatePipeWire& d) { d.start(); }, u"The sound server (PipeWire) stopped."_qs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        daemon.addNullNode(u"reelbox-doomed"_qs, u"Doomed"_qs, u"Audio/Sink"_qs, 2);
        SoundSystem sound;
        std::atomic<int> buffers{0}, inErrors{0}, outErrors{0};
        QString message;
        auto out = sound.openOutput(u"reelbox-doomed"_qs, {},
                                    [&](const QString&) { outErrors.fetch_add(1); });
        auto in = sound.openInput(
            u"reelbox-doomed"_qs, [&](auto...) { buffers.fetch_add(1); },
            [&](const QString& m) {
                message = m;
                inErrors.fetch_add(1);
            });
        ASSERT_TRUE(waitFor([&] { return buffers.load() > 2; }));

        c.breakDown(daemon);
        ASSERT_TRUE(waitFor([&] { return inErrors.load() > 0 && outErrors.load() > 0; }, 5000));
        EXPECT_TRUE(in->failed());
        EXPECT_TRUE(out->failed());
        EXPECT_EQ(message, c.message);
        const int after = buffers.load();
        QThread::msleep(100);
        EXPECT_EQ(buffers.load(), after) << "nothing is delivered after the error";
        EXPECT_EQ(inErrors.load(), 1);
        EXPECT_EQ(outErrors.load(), 1);
        if (c.after)
            c.after(daemon);
        in.reset();
        out.reset();
        if (!c.after) { // The device is gone: opening it again fails with a message.
            EXPECT_THROW(sound.openInput(u"reelbox-doomed"_qs, {}), Error);
        }
    }
}

} // namespace
