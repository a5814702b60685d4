#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QThread>
#include <gtest/gtest.h>

namespace reelbox::test {

TemporaryHome::TemporaryHome()
    : m_home("HOME", m_dir.path().toUtf8()), m_data("XDG_DATA_HOME", folder("data")),
      m_cache("XDG_CACHE_HOME", folder("cache")), m_config("XDG_CONFIG_HOME", folder("config")) {
    QStandardPaths::setTestModeEnabled(false);
}

QByteArray TemporaryHome::folder(const char* name) const {
    QDir(m_dir.path()).mkpath(QString::fromLatin1(name));
    return m_dir.filePath(QString::fromLatin1(name)).toUtf8();
}

QDateTime utc(int year, int month, int day, int hour, int minute, int second) {
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second), Qt::UTC);
}

TakeInfo fullTakeInfo() {
    TakeInfo info;
    info.name = QStringLiteral("Morning \"take\" · ünïcode");
    info.createdAt = utc(2024, 3, 1, 17, 5, 9);
    info.duration = 61.25;
    info.cameraName = QStringLiteral("Test Camera");
    info.audioDeviceName = QStringLiteral("Test Microphone");

    Overdub overdub;
    overdub.id = QUuid::fromString(QStringLiteral("0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d"));
    overdub.fileName = QStringLiteral("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D.mov");
    overdub.createdAt = utc(2024, 3, 2, 8, 0, 1);
    overdub.start = 12.5;
    overdub.nudge = -0.125;
    overdub.duration = 30;
    overdub.hasVideo = true;
    overdub.showVideo = false;
    overdub.audioDeviceID = QStringLiteral("alsa:hw:1");
    info.overdubs.push_back(overdub);

    Track input;
    input.id = QUuid::fromString(QStringLiteral("11111111-2222-4333-8444-555555555555"));
    input.name = QStringLiteral("Input 1");
    input.source = Track::Source::input(3);
    input.muted = true;
    input.solo = true;
    input.volumeDB = -6.5;
    input.pan = 0.25;
    input.effects = {true, true, 3, -2.5, 1200, 4, true, 0.7, 0.35, ReverbRoom::cathedral};
    info.tracks.push_back(input);

    Track overdubTrack;
    overdubTrack.id = QUuid::fromString(QStringLiteral("aaaaaaaa-bbbb-4ccc-8ddd-eeeeeeeeeeee"));
    overdubTrack.name = QStringLiteral("Overdub Sound");
    overdubTrack.source = Track::Source::overdub(overdub.id, 1);
    overdubTrack.volumeDB = 2;
    overdubTrack.pan = -1;
    overdubTrack.effects.reverbRoom = ReverbRoom::plate;
    info.tracks.push_back(overdubTrack);

    info.showMainVideo = false;
    info.mainRemoved = true;
    info.master = {-3, false};
    info.edit.inPoint = 0.5;
    info.edit.outPoint = 40.75;
    info.edit.splits = {4, 8.5};
    info.edit.cuts = {{10, 11.5}, {20, 21}};
    info.edit.hidden[Lane::audio(input.id).key()] = {{1, 2}};
    info.edit.laneSplits[Lane::mainVideo().key()] = {3.25};
    info.exportSettings.format = ExportSettings::Format::hevc;
    info.exportSettings.aspect = ExportSettings::Aspect::square;
    info.exportSettings.layout = ExportSettings::VideoLayout::pip;
    info.exportSettings.mirror = true;
    info.exportSettings.positions[Lane::mainVideo().key()] = {0.5, -0.25};
    info.exportSettings.positions[Lane::overdubVideo(overdub.id).key()] = {-1, 1};
    return info;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

ScopedEnvironment::ScopedEnvironment(const char* name, const QByteArray& value)
    : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_old(qgetenv(name)) {
    qputenv(name, value);
}

ScopedEnvironment::~ScopedEnvironment() {
    if (m_had)
        qputenv(m_name, m_old);
    else
        qunsetenv(m_name);
}

void ensureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "reelbox-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    ensureApplication();
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

void runEvents(int milliseconds) {
    ensureApplication();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < milliseconds) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

} // namespace reelbox::test
