#include "capture/CameraPreview.h"
#include "capture/CaptureServices.h"
#include "capture/DeviceManager.h"
#include "capture/RecorderModel.h"
#include "model/TakeLibrary.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

using namespace reelbox;

TEST(CameraPreview, FitsTheFrameIntoTheViewKeepingItsAspectInEvenPixels) {
    const struct {
        QSize frame, target, fitted;
    } cases[] = {
        {{1920, 1080}, {1920, 1080}, {1920, 1080}},
        {{1920, 1080}, {800, 800}, {800, 450}},
        {{1920, 1080}, {1001, 2000}, {1000, 562}},
        {{640, 480}, {1600, 600}, {800, 600}},
        {{1920, 1080}, {0, 0}, {}},
        {{1920, 1080}, {1, 1}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CameraPreview::fittedSize(c.frame, c.target), c.fitted)
            << c.target.width() << "x" << c.target.height();
}

// The Test Camera's pictures arrive at the size asked for, and stop when no view asks.
TEST(CameraPreview, DeliversTheNewestFrameAtTheAskedSizeOnlyWhileAsked) {
    test::TemporaryHome home;
    test::ensureApplication();
    TakeLibrary library(home.filePath(QStringLiteral("Takes")));
    CaptureServices services;
    RecorderModel recorder(services.devices(), services.sound());
    recorder.setPreferredVideoSize(QSize(640, 360));
    services.devices().setMicrophoneID(std::nullopt);
    recorder.activate(&library);
    CameraPreview& preview = recorder.cameraPreview();
    QSignalSpy frames(&preview, &CameraPreview::frameReady);
    test::runEvents(300);
    EXPECT_EQ(frames.count(), 0) << "converted with no view asking";

    preview.setTargetSize(QSize(330, 200));
    ASSERT_TRUE(test::waitFor([&] { return frames.count() >= 5; }, 5000));
    const QImage image = frames.last().at(0).value<QImage>();
    EXPECT_EQ(image.size(), QSize(330, 184));
    EXPECT_GT(QColor(image.pixel(165, 92)).value() + QColor(image.pixel(20, 20)).value(), 0);

    preview.setTargetSize({});
    test::runEvents(100); // the frame in work may still arrive
    const int before = frames.count();
    test::runEvents(400);
    EXPECT_EQ(frames.count(), before);
    recorder.deactivate();
}
