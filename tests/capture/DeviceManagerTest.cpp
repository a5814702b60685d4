#include "support/TestSupport.h"

#include "capture/DeviceManager.h"

#include <gtest/gtest.h>

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

using namespace reelbox;

namespace {

// Devices a test plugs in and out; changes arrive later on the event loop, as real ones do.
class FakeDevices : public DeviceSource {
public:
    std::vector<CameraInfo> cameraList;
    std::vector<SoundDevice> microphoneList;
    QString defaultCamera;
    QString defaultMicrophone;

    std::vector<CameraInfo> cameras() const override { return cameraList; }
    std::vector<SoundDevice> microphones() const override { return microphoneList; }
    QString defaultCameraId() const override { return defaultCamera; }
    QString defaultMicrophoneId() const override { return defaultMicrophone; }

    void announce() {
        QMetaObject::invokeMethod(this, &DeviceSource::devicesChanged, Qt::QueuedConnection);
    }
};

CameraInfo cam(const char* id) {
    return CameraInfo{QString::fromUtf8(id), QStringLiteral("Camera ") + QString::fromUtf8(id), {}};
}

SoundDevice mic(const char* id) {
    return SoundDevice{QString::fromUtf8(id), QStringLiteral("Mic ") + QString::fromUtf8(id), 2};
}

QVariant stored(const char* key) {
    return QSettings(QStringLiteral("Reelbox"), QStringLiteral("Reelbox"))
        .value(QString::fromUtf8(key));
}

class DeviceManagerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { test::ensureApplication(); }
    void SetUp() override {
        ASSERT_TRUE(settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
    }
    void store(const char* key, const char* value) {
        QSettings(QStringLiteral("Reelbox"), QStringLiteral("Reelbox"))
            .setValue(QString::fromUtf8(key), QString::fromUtf8(value));
    }
    QTemporaryDir settingsDir;
};

struct LaunchCase {
    const char* name;
    const char* storedId; // nullptr: nothing stored
    std::vector<const char*> present;
    const char* systemDefault;
    const char* expected; // nullptr: none, and the key removed
};

// The same rule holds for cameras and microphones.
TEST_F(DeviceManagerTest, ChoiceAtLaunchFollowsTheFallbackRule) {
    const std::vector<LaunchCase> cases = {
        {"first launch, no default: the first device", nullptr, {"a", "b"}, "", "a"},
        {"first launch: the system default", nullptr, {"a", "b"}, "b", "b"},
        {"a stored device present stays, default or not", "b", {"a", "b"}, "a", "b"},
        {"a stored device absent: the default", "x", {"a", "b"}, "b", "b"},
        {"the default as named, even when unlisted", "x", {"a", "b"}, "z", "z"},
        {"nothing connected: none", "a", {}, "", nullptr},
    };
    for (const LaunchCase& c : cases) {
        for (const bool camera : {true, false}) {
            const char* key = camera ? "cameraID" : "microphoneID";
            QSettings(QStringLiteral("Reelbox"), QStringLiteral("Reelbox")).clear();
            if (c.storedId)
                store(key, c.storedId);
            auto source = std::make_unique<FakeDevices>();
            for (const char* id : c.present) {
                source->cameraList.push_back(cam(id));
                source->microphoneList.push_back(mic(id));
            }
            (camera ? source->defaultCamera : source->defaultMicrophone) =
                QString::fromUtf8(c.systemDefault);
            DeviceManager manager(std::move(source));
            const std::optional<QString>& chosen =
                camera ? manager.cameraID() : manager.microphoneID();
            const std::string what = std::string(c.name) + (camera ? " (camera)" : " (microphone)");
            if (c.expected) {
                EXPECT_EQ(chosen.value_or(QString()).toStdString(), c.expected) << what;
                EXPECT_EQ(stored(key).toString().toStdString(), c.expected) << what;
            } else {
                EXPECT_FALSE(chosen.has_value()) << what;
                EXPECT_FALSE(stored(key).isValid()) << what << ": the key is removed";
            }
        }
    }
}

// A choice of none removes the key, and an equal value emits nothing.
TEST_F(DeviceManagerTest, UnpluggedChoiceFallsBackAndAChoiceMadeIsStored) {
    store("cameraID", "b");
    auto owned = std::make_unique<FakeDevices>();
    FakeDevices* devices = owned.get();
    devices->cameraList = {cam("a"), cam("b")};
    devices->microphoneList = {mic("m"), mic("n")};
    DeviceManager manager(std::move(owned));
    ASSERT_EQ(manager.cameraID().value_or(QString()), u"b");
    QSignalSpy choice(&manager, &DeviceManager::cameraIDChanged);
    QSignalSpy lists(&manager, &DeviceManager::camerasChanged);
    QSignalSpy microphones(&manager, &DeviceManager::microphonesChanged);

    devices->cameraList = {cam("a")};
    devices->announce();
    ASSERT_TRUE(choice.wait(2000));
    EXPECT_EQ(manager.cameraID().value_or(QString()), u"a");
    EXPECT_EQ(stored("cameraID").toString(), u"a");
    EXPECT_EQ(manager.cameras().size(), 1u);
    EXPECT_EQ(lists.size(), 1);

    devices->cameraList = {cam("a"), cam("b")};
    devices->announce();
    ASSERT_TRUE(lists.wait(2000));
    EXPECT_EQ(manager.cameraID().value_or(QString()), u"a");
    EXPECT_EQ(stored("cameraID").toString(), u"a");
    EXPECT_EQ(choice.size(), 1);
    EXPECT_EQ(microphones.size(), 0) << "an unchanged list emits nothing";

    devices->cameraList.clear();
    devices->announce();
    ASSERT_TRUE(choice.wait(2000));
    EXPECT_FALSE(manager.cameraID().has_value());
    EXPECT_FALSE(stored("cameraID").isValid());
    EXPECT_EQ(manager.camera(), nullptr);

    QSignalSpy microphone(&manager, &DeviceManager::microphoneIDChanged);
    manager.setMicrophoneID(QStringLiteral("n"));
    manager.setMicrophoneID(QStringLiteral("n"));
    EXPECT_EQ(microphone.size(), 1);
    EXPECT_EQ(stored("microphoneID").toString(), u"n");
    ASSERT_NE(manager.microphone(), nullptr);
    EXPECT_EQ(manager.microphone()->name, u"Mic n");
    manager.setMicrophoneID(std::nullopt);
    EXPECT_FALSE(stored("microphoneID").isValid());
    EXPECT_EQ(microphone.size(), 2);
}

} // namespace
