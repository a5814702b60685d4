#include "capture/LatencyCalibration.h"
#include "platform/Error.h"
#include "platform/sound/SoundSystem.h"
#include "platform/virtual/TestMicrophoneSignal.h"
#include "support/PrivatePipeWire.h"
#include "support/TestSupport.h"

#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

#include <limits>
#include <random>

using namespace reelbox;
using namespace reelbox::latency;

namespace {

constexpr qint64 frameNs = 1'000'000'000 / audioSampleRate; // 20833 ns, rounded down

enum class Background { silence, noise, toneAndClick };

// A microphone channel: a background, and the signal times `gain` starting at `at`.
std::vector<float> recording(Background background, qint64 length, qint64 at, float gain,
                             float noiseLevel = 0.1f) {
    std::vector<float> out(size_t(length), 0.0f);
    if (background == Background::noise) {
        std::mt19937 random(7);
        std::normal_distribution<float> normal(0.0f, noiseLevel);
        for (float& v : out)
            v = normal(random);
    } else if (background == Background::toneAndClick) {
        // The Test Microphone's second channel, with a click inside the search window.
        const TestMicrophoneSignal mic(2);
        for (qint64 i = 0; i < length; ++i)
            out[size_t(i)] = mic.sample(1, i + audioSampleRate - 3000);
    }
    const std::vector<float> signal = testSignal();
    for (size_t i = 0; i < signal.size() && at >= 0 && at + qint64(i) < length; ++i)
        out[size_t(at) + i] += gain * signal[i];
    return out;
}

TEST(LatencyCalibrationTest, FindsTheBurstAtExactlyItsDelayOrNotAtAll) {
    constexpr qint64 missing = std::numeric_limits<qint64>::min();
    struct Case {
        const char* name;
        Background background;
        qint64 delayFrames; // from where the devices say it should be; missing: not heard
        float gain;
        float noiseLevel = 0;
    };
    const Case cases[] = {
        {"silence, on time", Background::silence, 0, 1.0f},
        {"silence, 37 ms", Background::silence, 1776, 1.0f},
        {"silence, one frame early", Background::silence, -1, 1.0f},
        {"silence, almost 20 ms early", Background::silence, -959, 1.0f},
        {"silence, almost 500 ms late", Background::silence, 23999, 1.0f},
        {"noise, 123 frames", Background::noise, 123, 1.0f, 0.1f},
        {"loud noise, quiet burst", Background::noise, 4321, 0.2f, 0.1f},
        {"inverted in noise", Background::noise, 777, -0.5f, 0.1f},
        {"tone and click, 37 ms", Background::toneAndClick, 1776, 0.5f},
        {"tone and click, quiet burst", Background::toneAndClick, 2900, 0.1f},
        {"silence alone", Background::silence, missing, 0},
        {"noise alone", Background::noise, missing, 0, 0.1f},
        {"tone and click alone", Background::toneAndClick, missing, 0},
        {"burst far under the noise", Background::noise, missing, 0.0005f, 0.3f},
        {"burst after the window", Background::silence, latestFrames + 2000, 1.0f},
    };
    const qint64 expected = 5000;
    const std::vector<float> signal = testSignal();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const qint64 at = expected + (c.delayFrames == missing ? 4000 : c.delayFrames);
        const std::vector<float> rec =
            recording(c.background, expected + latestFrames + 20000, at, c.gain, c.noiseLevel);
        const Peak peak =
            findSignal(signal, rec, expected - earliestFrames, expected + latestFrames);
        if (c.delayFrames == missing || c.delayFrames > latestFrames) {
            EXPECT_LT(peak.clarity, minimumClarity);
            continue;
        }
        EXPECT_EQ(peak.position, at);
        EXPECT_GE(peak.clarity, minimumClarity);
    }
}

TEST(LatencyCalibrationTest, PlaysMustAgreeWithinTwoFrames) {
    const qint64 ms37 = 37'000'000;
    const std::string disagree = "The measurements didn't agree. Check that nothing else plays "
                                 "through the output or into input 3, then try again.";
    const std::string unheard = "Couldn't hear the test signal. Check the cable from the output "
                                "to input 3, and the volume.";
    struct Case {
        const char* name;
        std::vector<Play> plays;
        std::vector<int> used;  // the plays the result's mean is of
        std::string error = {}; // instead of a result
    };
    const auto at = [](qint64 ns, double clarity = 20) { return Play{ns, clarity}; };
    const Case cases[] = {
        {"five the same", {at(ms37), at(ms37), at(ms37), at(ms37), at(ms37)}, {0, 1, 2, 3, 4}},
        {"spread of two frames",
         {at(ms37), at(ms37 + 2 * frameNs), at(ms37 + frameNs), at(ms37), at(ms37 + 2 * frameNs)},
         {0, 1, 2, 3, 4}},
        {"spread of three frames",
         {at(ms37), at(ms37 + 3 * frameNs), at(ms37), at(ms37), at(ms37)},
         {},
         disagree},
        {"a dropout, played again",
         {at(ms37), at(ms37 + 10'666'667, 7.7), at(ms37), at(ms37), at(ms37), at(ms37)},
         {0, 2, 3, 4, 5}},
        {"an unheard play, played again",
         {at(0, 1.0), at(-ms37), at(-ms37), at(-ms37), at(-ms37), at(-ms37)},
         {1, 2, 3, 4, 5}},
        {"only four heard", {at(ms37), at(ms37), at(0, 3.9), at(ms37), at(ms37)}, {}, unheard},
        {"nothing played", {}, {}, unheard},
        {"two groups of five never agree",
         {at(0), at(ms37), at(0), at(ms37), at(0), at(ms37), at(0), at(ms37), at(ms37 / 2)},
         {},
         disagree},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.error.empty()) {
            EXPECT_TRUE(agreeingPlays(c.plays).empty());
            try {
                conclude(c.plays, 3);
                ADD_FAILURE() << "no error";
            } catch (const Error& e) {
                EXPECT_EQ(e.what(), c.error);
            }
            continue;
        }
        const RoundTrip trip = conclude(c.plays, 3);
        ASSERT_EQ(trip.measurementsSeconds.size(), c.used.size());
        double sum = 0;
        for (size_t i = 0; i < c.used.size(); ++i) {
            const double delay = double(c.plays[size_t(c.used[i])].delayNs) / 1e9;
            EXPECT_DOUBLE_EQ(trip.measurementsSeconds[i], delay);
            sum += delay;
        }
        EXPECT_NEAR(trip.seconds, sum / double(c.used.size()), 1e-9);
    }
}

// A private PipeWire with a null sink whose monitor pw-loopback plays into a source, holding it
// back by `delaySeconds` more than PipeWire reports.
class PipeWireLoopback {
public:
    explicit PipeWireLoopback(double delaySeconds) {
        m_daemon.addNullNode(u"calibration-sink"_qs, u"Calibration Sink"_qs, u"Audio/Sink"_qs, 2);
        m_loopback.setProcessChannelMode(QProcess::MergedChannels);
        m_loopback.start(u"pw-loopback"_qs,
                         {u"-C"_qs, u"calibration-sink"_qs, u"-d"_qs, QString::number(delaySeconds),
                          u"-m"_qs, u"[ AUX0 AUX1 ]"_qs, u"--capture-props"_qs,
                          u"stream.capture.sink=true"_qs, u"--playback-props"_qs,
                          u"media.class=Audio/Source node.name=calibration-source "
                          "node.description=\"Calibration Source\""_qs});
        if (!m_loopback.waitForStarted(3000))
            throw std::runtime_error("can't start pw-loopback");
        // Ready once WirePlumber has linked both of its sides.
        const bool linked = test::waitFor(
            [&] {
                int links = 0;
                for (const QJsonValue& v : m_daemon.dump())
                    links += v.toObject().value(u"type").toString().endsWith(u"Link") ? 1 : 0;
                return links >= 2;
            },
            5000);
        if (!linked)
            throw std::runtime_error("pw-loopback wasn't linked: " +
                                     m_loopback.readAll().toStdString());
    }
    ~PipeWireLoopback() {
        m_loopback.terminate();
        m_loopback.waitForFinished(2000);
    }

private:
    test::PrivatePipeWire m_daemon;
    QProcess m_loopback;
};

// The reported latencies account for the whole path; a delay nothing reports is measured.
TEST(LatencyCalibrationTest, ThroughPipeWireADelayNothingReportsIsMeasured) {
    test::ensureApplication();
    for (const auto& [delaySeconds, input] : {std::pair{0.0, 1}, std::pair{0.025, 0}}) {
        SCOPED_TRACE(delaySeconds);
        const PipeWireLoopback loopback(delaySeconds);
        SoundSystem sound;
        ASSERT_TRUE(sound.hasServer()) << sound.serverProblem().toStdString();
        const RoundTrip trip =
            measureRoundTrip(sound, u"calibration-sink"_qs, u"calibration-source"_qs, input);
        EXPECT_NEAR(trip.seconds, delaySeconds, 0.001);
        ASSERT_EQ(trip.measurementsSeconds.size(), size_t(playCount));
        for (const double m : trip.measurementsSeconds)
            EXPECT_NEAR(m, delaySeconds, 0.001);
    }
}

} // namespace
