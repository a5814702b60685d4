#include "capture/LatencyCalibration.h"
#include "model/UserSettings.h"
#include "platform/sound/SoundDevice.h"
#include "support/CliRun.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <gtest/gtest.h>

using namespace reelbox;

namespace {

class CalibrateCommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        env = QProcessEnvironment::systemEnvironment();
        env.insert(u"REELBOX_VIRTUAL_DEVICES"_qs, u"1"_qs);
        env.insert(u"REELBOX_TEST_MIC_CHANNELS"_qs, u"3"_qs);
        env.insert(u"REELBOX_TEST_LOOPBACK_MS"_qs, u"37"_qs);
        env.insert(u"XDG_RUNTIME_DIR"_qs, home.filePath(u"no-server"_qs));
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           home.filePath(u"config"_qs));
    }

    test::TemporaryHome home;
    QProcessEnvironment env;
};

TEST_F(CalibrateCommandTest, StoresTheNegativeOfTheLoopbackDelayAsTheNudge) {
    const QString out = test::cliOutput(QStringList{u"calibrate"_qs}, {env, {}, 14000});
    const QJsonObject line = QJsonDocument::fromJson(out.toUtf8()).object();
    EXPECT_NEAR(line.value(u"roundTripMs").toDouble(), 37, 0.5);
    EXPECT_NEAR(line.value(u"nudge").toDouble(), -0.037, 0.0005);
    EXPECT_EQ(line.value(u"measurementsMs").toArray().size(), 5);
    // Stored where the next overdub reads it.
    EXPECT_NEAR(UserSettings::overdubNudge(testMicrophoneId()), line.value(u"nudge").toDouble(),
                1e-6);
}

TEST_F(CalibrateCommandTest, FailuresSayWhatToCheckAndStoreNothing) {
    UserSettings::setOverdubNudge(testMicrophoneId(), -0.02);
    struct Case {
        QStringList args;
        int status;
        QString message;
    };
    const Case cases[] = {
        // Input 1 holds the Test Microphone's tone and clicks; the loopback reaches input 3.
        {{u"--input"_qs, u"1"_qs},
         1,
         u"Couldn't hear the test signal. Check the cable from the output to input 1, and the "
         "volume."_qs},
        {{u"--input"_qs, u"4"_qs}, 1, u"Test Microphone has 3 inputs; there is no input 4."_qs},
        {{u"--microphone"_qs, u"nothing-here"_qs},
         1,
         u"The microphone \"nothing-here\" isn't connected."_qs},
        {{u"--input"_qs, u"0"_qs}, 2, u"--input needs an input number from 1"_qs},
        {{u"--speed"_qs}, 2, u"Unknown option 'speed'"_qs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const test::CliResult r =
            test::runCli(QStringList{u"calibrate"_qs} + c.args, {env, {}, 14000});
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains(c.message)) << r.err.toStdString();
    }
    EXPECT_EQ(UserSettings::overdubNudge(testMicrophoneId()), -0.02) << "the earlier one is kept";
}

} // namespace
