#include "support/CliRun.h"
#include "support/PrivatePipeWire.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>

using namespace reelbox;

namespace {

QString out(const QStringList& args, const QProcessEnvironment& env) {
    return test::cliOutput(args, {env, {}, 20000});
}

QJsonObject find(const QJsonArray& list, const QString& id) {
    for (const QJsonValue& v : list)
        if (v.toObject().value(u"id").toString() == id)
            return v.toObject();
    return {};
}

// Each line of `meter`: one {"average", "peak"} per channel.
std::vector<QJsonArray> meterLines(const QString& out) {
    std::vector<QJsonArray> lines;
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts))
        lines.push_back(QJsonDocument::fromJson(line.toUtf8()).array());
    return lines;
}

class DeviceCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        env = QProcessEnvironment::systemEnvironment();
        env.remove(u"REELBOX_VIRTUAL_DEVICES"_qs);
        env.insert(u"XDG_RUNTIME_DIR"_qs, home.filePath(u"no-server"_qs));
        QSettings settings(home.filePath(u"config/Reelbox/Reelbox.conf"_qs), QSettings::IniFormat);
        settings.setValue(u"microphoneID"_qs, u"reelbox:test-microphone"_qs);
    }
    test::TemporaryHome home;
    QProcessEnvironment env;
};

TEST_F(DeviceCommandsTest, DevicesOnABareMachineAreTheVirtualOnes) {
    const QJsonObject devices =
        QJsonDocument::fromJson(out({u"devices"_qs, u"--json"_qs}, env).toUtf8()).object();
    const QJsonObject camera = find(devices.value(u"cameras").toArray(), u"reelbox:test-camera"_qs);
    EXPECT_EQ(camera.value(u"name").toString(), u"Test Camera");
    EXPECT_TRUE(camera.value(u"default").toBool());
    const QJsonObject format = camera.value(u"formats").toArray().first().toObject();
    EXPECT_EQ(format.value(u"format").toString(), u"1920x1080@30-30 fps");
    EXPECT_FALSE(format.value(u"pixelFormat").toString().isEmpty());

    const QJsonObject mic =
        find(devices.value(u"microphones").toArray(), u"reelbox:test-microphone"_qs);
    EXPECT_EQ(mic.value(u"channels").toInt(), 2);
    EXPECT_TRUE(mic.value(u"chosen").toBool()) << "the stored choice is marked";
    EXPECT_EQ(devices.value(u"outputs").toArray().size(), 1);
    EXPECT_EQ(find(devices.value(u"outputs").toArray(), u"reelbox:test-output"_qs)
                  .value(u"name")
                  .toString(),
              u"Test Output");

    EXPECT_TRUE(out({u"devices"_qs}, env).contains(u"No sound server is running (PipeWire)"));
}

TEST_F(DeviceCommandsTest, MeterPrintsTheTestMicrophonesLevelsTwentyTimesASecond) {
    env.insert(u"REELBOX_TEST_MIC_CHANNELS"_qs, u"3"_qs);
    const std::vector<QJsonArray> lines =
        meterLines(out({u"meter"_qs, u"--seconds"_qs, u"0.5"_qs}, env));
    EXPECT_GE(lines.size(), 9u);
    EXPECT_LE(lines.size(), 12u);
    std::vector<double> averages;
    for (const QJsonArray& line : lines) {
        ASSERT_EQ(line.size(), 3);
        for (const QJsonValue& channel : line)
            averages.push_back(channel.toObject().value(u"average").toDouble());
    }
    std::nth_element(averages.begin(), averages.begin() + qsizetype(averages.size() / 2),
                     averages.end());
    EXPECT_NEAR(averages[averages.size() / 2], -15.05, 0.1) << "the RMS of a 0.25 sine";

    const test::CliResult wrong =
        test::runCli({u"meter"_qs, u"--microphone"_qs, u"nothing-here"_qs}, {env, {}, 20000});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_TRUE(wrong.err.contains(u"No sound server")) << wrong.err.toStdString();
}

TEST_F(DeviceCommandsTest, DevicesAndMeterUnderPipeWire) {
    test::PrivatePipeWire daemon;
    daemon.addNullNode(u"interface-18"_qs, u"Interface 18"_qs, u"Audio/Source/Virtual"_qs, 18);
    // A name holding a terminal escape sequence (escaped for pw-cli).
    daemon.addNullNode(u"sly"_qs, u"Sly\\u001b[2J Out"_qs, u"Audio/Sink"_qs, 2);
    env.insert(u"XDG_RUNTIME_DIR"_qs, qEnvironmentVariable("XDG_RUNTIME_DIR"));

    const QString text = out({u"devices"_qs}, env);
    EXPECT_TRUE(text.contains(u"Sly?[2J Out"_qs)) << text.toStdString();
    EXPECT_FALSE(text.contains(QChar(0x1b))) << "control characters reach the terminal";
    const QJsonObject devices =
        QJsonDocument::fromJson(out({u"devices"_qs, u"--json"_qs}, env).toUtf8()).object();
    const QJsonArray microphones = devices.value(u"microphones").toArray();
    ASSERT_EQ(microphones.size(), 1) << "real devices hide the virtual ones";
    EXPECT_EQ(find(microphones, u"interface-18"_qs).value(u"channels").toInt(), 18);
    // The name really holds the escape character; JSON carries it escaped.
    EXPECT_EQ(find(devices.value(u"outputs").toArray(), u"sly"_qs).value(u"name").toString(),
              u"Sly\x1b[2J Out"_qs);

    const std::vector<QJsonArray> lines = meterLines(out(
        {u"meter"_qs, u"--microphone"_qs, u"interface-18"_qs, u"--seconds"_qs, u"0.3"_qs}, env));
    ASSERT_GE(lines.size(), 4u);
    for (const QJsonArray& line : lines) {
        ASSERT_EQ(line.size(), 18);
        EXPECT_EQ(line.first().toObject().value(u"peak").toDouble(), -160)
            << "nothing plays into it";
    }
}

} // namespace
