#include "platform/camera/CameraDevices.h"
#include "platform/camera/CameraError.h"
#include "platform/camera/CameraStream.h"
#include "platform/camera/CameraWatcher.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>

using namespace reelbox;

namespace {

// Refused devices can't be made for real here (tests run as root, which chmod 000 doesn't
// stop), so the mapping from the system's error is what is checked.
TEST(CameraError, SystemErrorsMapToWhatTheRecorderTellsApart) {
    struct Case {
        int error;
        CameraError::Kind kind;
    };
    for (const Case& c :
         {Case{EACCES, CameraError::Kind::permissionDenied},
          Case{EPERM, CameraError::Kind::permissionDenied},
          Case{ENOENT, CameraError::Kind::notFound}, Case{ENXIO, CameraError::Kind::notFound},
          Case{ENODEV, CameraError::Kind::disconnected}, Case{EBUSY, CameraError::Kind::busy},
          Case{EIO, CameraError::Kind::failed}}) {
        const CameraError error =
            CameraError::fromErrno(c.error, QStringLiteral("“Cam”"), QStringLiteral("open"));
        EXPECT_EQ(error.kind(), c.kind) << c.error;
        EXPECT_EQ(error.permissionDenied(), c.kind == CameraError::Kind::permissionDenied);
        EXPECT_TRUE(error.message().contains(QStringLiteral("“Cam”")));
        EXPECT_TRUE(error.message().contains(QString::fromLocal8Bit(std::strerror(c.error))))
            << error.what();
    }
}

// Files that aren't capture devices are not listed, and opening one gives a clear error.
TEST(CameraDevices, NodesThatArentCamerasAreNotListedAndGiveClearErrors) {
    QTemporaryDir dir;
    for (const char* name : {"video3", "video12", "videox", "media0"})
        test::writeFile(dir.filePath(QLatin1String(name)), {});
    EXPECT_TRUE(listV4l2Cameras(dir.path()).empty());
    EXPECT_TRUE(listV4l2Cameras(dir.filePath(QStringLiteral("missing"))).empty());
    struct Case {
        QString id;
        CameraError::Kind kind; // and the message names the device's file
    };
    const std::vector<Case> cases{
        {dir.filePath(QStringLiteral("video7")), CameraError::Kind::notFound},
        {QStringLiteral("usb-Some_Camera"), CameraError::Kind::notFound},
        // Opens, but answers no camera question.
        {dir.filePath(QStringLiteral("video3")), CameraError::Kind::failed},
    };
    const CameraFormat format{640, 480, QStringLiteral("YUYV"), {{30, 30}}};
    for (const Case& c : cases) {
        try {
            CameraStream::open(c.id, format, 30);
            ADD_FAILURE() << c.id.toStdString() << " opened";
        } catch (const CameraError& error) {
            EXPECT_EQ(error.kind(), c.kind) << error.what();
            EXPECT_TRUE(error.message().contains(QFileInfo(c.id).fileName())) << error.what();
        }
    }
}

TEST(CameraWatcher, VideoNodesComingAndGoingAreReported) {
    int argc = 0;
    QCoreApplication app(argc, nullptr);
    QTemporaryDir dir;
    CameraWatcher watcher(dir.path());
    EXPECT_EQ(watcher.method(), QStringLiteral("inotify"));
    QSignalSpy changed(&watcher, &CameraWatcher::camerasChanged);

    test::writeFile(dir.filePath(QStringLiteral("video9")), {});
    EXPECT_TRUE(changed.wait(2000));
    const qsizetype afterPlug = changed.count();

    test::writeFile(dir.filePath(QStringLiteral("audio1")), {});
    test::writeFile(dir.filePath(QStringLiteral("video9.tmp")), {});
    EXPECT_FALSE(changed.wait(200)) << "other files are not cameras";
    EXPECT_EQ(changed.count(), afterPlug);

    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("video9"))));
    EXPECT_TRUE(changed.wait(2000));

    // The default watcher picks whatever this machine offers.
    CameraWatcher system;
    EXPECT_FALSE(system.method().isEmpty());
}

} // namespace
