// The contract every camera stream keeps, run over the Test Camera and the V4L2 code on a
// stand-in device; then what each does on its own.
#include "platform/camera/CameraStream.h"
#include "platform/HostClock.h"
#include "platform/camera/CameraDevices.h"
#include "platform/virtual/TestCamera.h"
#include "platform/virtual/TestCameraPattern.h"
#include "support/FakeV4l2Device.h"
#include "support/TestSupport.h"

#include <QImage>
#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <mutex>
#include <thread>

using namespace reelbox;
using namespace reelbox::v4l2;
using namespace std::chrono_literals;

namespace {

int luma(const YuvPicture& picture, int x, int y) {
    return picture.plane(0)[std::ptrdiff_t(y) * picture.stride(0) + x];
}

// Whether every `step`th pixel of a picture is that of the Test Camera's frame `frame`.
bool isPatternFrame(const YuvPicture& picture, qint64 frame, int step = 3) {
    YuvPicture expected(picture.size(), picture.matrix());
    TestCameraPattern::renderInto(expected, frame);
    for (int y = 0; y < picture.size().height(); y += step)
        for (int x = 0; x < picture.size().width(); x += step)
            if (luma(picture, x, y) != luma(expected, x, y))
                return false;
    return true;
}

FrameSize discrete(std::uint32_t w, std::uint32_t h, std::initializer_list<std::uint32_t> fps) {
    FrameSize size;
    size.width = w;
    size.height = h;
    for (std::uint32_t f : fps) {
        FrameInterval interval;
        interval.discrete = {1, f};
        size.intervals.push_back(interval);
    }
    return size;
}

// A small webcam: YUYV and MJPG, and H.264 that Reelbox leaves out.
std::vector<PixelFormat> webcamTable() {
    return {{fourcc('Y', 'U', 'Y', 'V'), 0, {discrete(64, 48, {30, 15}), discrete(32, 24, {30})}},
            {fourcc('H', '2', '6', '4'), 1, {discrete(64, 48, {30})}},
            {fourcc('M', 'J', 'P', 'G'), 1, {discrete(64, 64, {60, 30})}}};
}

// A YUYV frame of one grey level.
QByteArray yuyvFrame(int width, int height, std::uint8_t luma) {
    return QByteArray(1, char(luma)).append(char(128)).repeated(width * height);
}

// What a stream hands its handlers.
class Events {
public:
    CameraStream::FrameHandler frames() {
        return [this](const CameraFrame& frame) {
            std::lock_guard lock(m_mutex);
            m_frames.push_back(frame);
            m_changed.notify_all();
        };
    }
    CameraStream::ErrorHandler errors() {
        return [this](const CameraError& error) {
            std::lock_guard lock(m_mutex);
            m_errors.push_back(error);
            m_changed.notify_all();
        };
    }
    // The frames so far, once there are `count`.
    std::vector<CameraFrame> waitForFrames(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 4s, [&] { return m_frames.size() >= count; });
        return m_frames;
    }
    std::vector<CameraError> waitForError(std::chrono::milliseconds wait = 3s) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, wait, [&] { return !m_errors.empty(); });
        return m_errors;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<CameraFrame> m_frames;
    std::vector<CameraError> m_errors;
};

struct Fixture {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("video4"));
    std::shared_ptr<FakeV4l2Device> device =
        std::make_shared<FakeV4l2Device>(path, QStringLiteral("Fake Webcam"), webcamTable());
    // The stand-in's kernel stamps: whole microseconds, in the past.
    const qint64 base = (hostNowNs() / 1000 - 10'000'000) * 1000;
    Fixture() { test::writeFile(path, {}); }
    std::unique_ptr<CameraStream> openV4l2(int width, int height, const char* fourcc, double fps) {
        return openCamera(path, CameraFormat{width, height, QString::fromUtf8(fourcc), {}}, fps,
                          device);
    }
};

CameraFormat format(int width, int height) {
    return CameraFormat{width, height, QStringLiteral("YU12"), {{30, 30}}};
}

// A camera under the contract: how to open it, feed it frame n, when frame n was taken, whether
// a picture is frame n's, how long the handler holds up the third frame, how many to wait for.
struct Backend {
    std::string name;
    std::function<std::unique_ptr<CameraStream>(Fixture&)> open;
    std::function<void(Fixture&, std::uint32_t)> feed;
    std::function<qint64(Fixture&, qint64)> timeOf;
    std::function<bool(const CameraFrame&)> ownPicture;
    std::vector<std::uint32_t> fed; // the sequence numbers fed
    std::chrono::milliseconds stall;
    std::size_t frames;
};

class CameraContract : public ::testing::TestWithParam<Backend> {
protected:
    Fixture f;
};

// The one gap (a held-up handler or frames the driver lost) counts as dropped; unhindered, every
// frame comes.
TEST_P(CameraContract, FramesComeInOrderAtTheirTimesUntilStopped) {
    const Backend& b = GetParam();
    auto stream = b.open(f);
    Events events;
    auto collect = events.frames();
    int calls = 0;
    stream->start(
        [&](const CameraFrame& frame) {
            EXPECT_GE(hostNowNs(), frame.hostTimeNs) << "delivered before it was taken";
            collect(frame);
            if (++calls == 3)
                std::this_thread::sleep_for(b.stall);
        },
        events.errors());
    const bool standIn = !b.fed.empty();
    if (standIn) {
        EXPECT_TRUE(f.device->buffers().streaming);
        EXPECT_GE(f.device->buffers().requested, 8);
    }
    for (std::uint32_t n : b.fed)
        b.feed(f, n);
    const std::vector<CameraFrame> frames = events.waitForFrames(b.frames);
    if (standIn) {
        EXPECT_EQ(f.device->buffers().queued, f.device->buffers().requested) << "all given back";
    }
    const auto stopping = std::chrono::steady_clock::now();
    stream->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - stopping, 500ms);
    EXPECT_FALSE(f.device->buffers().streaming);
    const qint64 delivered = stream->deliveredFrames();
    b.feed(f, 100);
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(stream->deliveredFrames(), delivered) << "delivered after it stopped";
    stream->stop(); // again: nothing happens

    ASSERT_GE(frames.size(), b.frames);
    qint64 gaps = 0, jumps = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(frames[i].sequence);
        EXPECT_EQ(frames[i].hostTimeNs, b.timeOf(f, frames[i].sequence));
        EXPECT_EQ(frames[i].picture.size(), stream->size());
        EXPECT_TRUE(b.ownPicture(frames[i])) << "each frame keeps its own picture";
        if (i > 0) {
            EXPECT_GT(frames[i].sequence, frames[i - 1].sequence);
            gaps += frames[i].sequence - frames[i - 1].sequence - 1;
            jumps += frames[i].sequence > frames[i - 1].sequence + 1;
        }
    }
    EXPECT_GE(gaps, 2);
    EXPECT_EQ(jumps, 1);
    EXPECT_EQ(stream->droppedFrames(), gaps);
    EXPECT_EQ(delivered, qint64(events.waitForFrames(0).size()));
    stream.reset();
    b.open(f).reset(); // never started: destroyed without waiting
}

INSTANTIATE_TEST_SUITE_P(
    Cameras, CameraContract,
    ::testing::Values(
        Backend{"TestCamera",
                [](Fixture&) { return CameraStream::open(testCameraId(), format(320, 180), 30); },
                [](Fixture&, std::uint32_t) {},
                [](Fixture&, qint64 n) { return testCameraFrameTimeNs(n); },
                [](const CameraFrame& f) { return isPatternFrame(f.picture, f.sequence); },
                {},
                500ms, // 15 frames, of which 8 wait to be delivered late
                20},
        Backend{"V4l2",
                [](Fixture& f) { return f.openV4l2(64, 48, "YUYV", 15); },
                [](Fixture& f, std::uint32_t n) {
                    f.device->deliver(yuyvFrame(64, 48, std::uint8_t(n * 10)), n,
                                      f.base + n * 66'666'000);
                },
                [](Fixture& f, qint64 n) { return f.base + n * 66'666'000; },
                [](const CameraFrame& f) { return luma(f.picture, 63, 47) == f.sequence * 10; },
                {5, 6, 9, 10}, // 7 and 8 lost
                0ms,
                4}),
    [](const auto& info) { return info.param.name; });

TEST(TestCamera, FramesFallOnTheThirtiethsOfASecondWithFlashesOnWholeSeconds) {
    struct Case {
        qint64 frame;
        qint64 timeNs;
    };
    for (const Case& c :
         {Case{0, 0}, Case{1, 33'333'333}, Case{2, 66'666'667}, Case{29, 966'666'667},
          Case{30, 1'000'000'000}, Case{30 * 86400, 86400'000'000'000}}) {
        EXPECT_EQ(testCameraFrameTimeNs(c.frame), c.timeNs) << c.frame;
        EXPECT_EQ(testCameraFrameAtOrAfter(c.timeNs), c.frame) << c.frame;
        EXPECT_EQ(testCameraFrameAtOrAfter(c.timeNs + 1), c.frame + 1) << c.frame;
    }
}

TEST(TestCamera, IsListedLastWhenVirtualDevicesAreAskedFor) {
    const std::vector<CameraInfo> cameras = listCameras();
    ASSERT_FALSE(cameras.empty());
    const CameraInfo& camera = cameras.back();
    EXPECT_EQ(camera.id, testCameraId());
    EXPECT_EQ(camera.name, QStringLiteral("Test Camera"));
    EXPECT_TRUE(camera.isVirtual);
    ASSERT_FALSE(camera.formats.empty());
    EXPECT_EQ(QSize(camera.formats[0].width, camera.formats[0].height), QSize(1920, 1080));
    EXPECT_EQ(camera.formats[0].frameRates, (std::vector<FrameRateRange>{{30, 30}}));
    for (const CameraFormat& f : camera.formats) {
        auto stream = CameraStream::open(camera.id, f, 30);
        EXPECT_EQ(stream->size(), QSize(f.width, f.height));
        EXPECT_EQ(stream->frameRate(), 30);
    }
}

// Listed with the formats its driver reports, and a format it doesn't offer is refused; one this
// user may not open is still listed, marked, without formats, and opening it says why.
TEST(V4l2Camera, IsListedWithTheFormatsItsDriverReportsOrMarkedWhenRefused) {
    Fixture f;
    const std::vector<CameraInfo> cameras = listCameras(f.dir.path(), f.device);
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0].id, f.path); // no /dev/v4l/by-id link leads here
    EXPECT_EQ(cameras[0].name, QStringLiteral("Fake Webcam"));
    EXPECT_FALSE(cameras[0].permissionDenied);
    EXPECT_EQ(cameras[0].formats, cameraFormats(webcamTable()));
    EXPECT_EQ(cameras[0].formats.size(), 3u);
    try {
        f.openV4l2(64, 48, "NV12", 30);
        ADD_FAILURE() << "opened";
    } catch (const CameraError& error) {
        EXPECT_EQ(error.kind(), CameraError::Kind::unsupportedFormat) << error.what();
        EXPECT_TRUE(error.message().contains(QStringLiteral("NV12")));
    }

    f.device->refuseOpen(EACCES);
    const std::vector<CameraInfo> refused = listCameras(f.dir.path(), f.device);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_TRUE(refused[0].permissionDenied);
    EXPECT_TRUE(refused[0].formats.empty());
    EXPECT_EQ(refused[0].name, QStringLiteral("video4"));
    try {
        openCamera(f.path, cameras[0].formats[0], 30, f.device);
        ADD_FAILURE() << "opened";
    } catch (const CameraError& error) {
        EXPECT_TRUE(error.permissionDenied()) << error.what();
    }
}

// MJPEG frames are decoded, and timed as they come out when the driver doesn't stamp on the
// monotonic clock. A failed dequeue or a damaged frame is one lost frame. A device that stops
// working (or sends only unreadable frames for about two seconds) ends the stream with one
// error that says how.
TEST(V4l2Camera, LostFramesAreCountedAndADeviceThatStopsWorkingEndsTheStream) {
    QImage white(64, 64, QImage::Format_RGB32);
    white.fill(Qt::white);
    const QByteArray jpeg = jpegFrame(white);
    struct Case {
        const char* name;
        std::function<void(FakeV4l2Device&, Events&)> breakDown;
        CameraError::Kind kind;
        const char* says;
        qint64 dropped; // at least
    };
    const Case cases[] = {
        {"unplugged", [](FakeV4l2Device& d, Events&) { d.unplug(); },
         CameraError::Kind::disconnected, "disconnected", 0},
        {"a queue stuck in its error state",
         [](FakeV4l2Device& d, Events&) { d.failDequeues(EIO, -1); }, CameraError::Kind::failed,
         "stopped sending", 0},
        {"only unreadable frames",
         [&jpeg](FakeV4l2Device& d, Events& events) {
             for (std::uint32_t n = 5; events.waitForError(30ms).empty() && n < 200; ++n)
                 d.deliver(n % 2 ? jpeg : QByteArray(100, 'x'), n, 0, true,
                           n % 2 ? V4L2_BUF_FLAG_ERROR : 0);
         },
         CameraError::Kind::failed, "can't read", 30},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        auto stream = f.openV4l2(64, 64, "MJPG", 30);
        Events events;
        stream->start(events.frames(), events.errors());
        const qint64 before = hostNowNs();
        ASSERT_TRUE(f.device->deliver(jpeg, 1, 123, false));
        const std::vector<CameraFrame> first = events.waitForFrames(1);
        ASSERT_EQ(first.size(), 1u);
        EXPECT_GE(first[0].hostTimeNs, before);
        EXPECT_LE(first[0].hostTimeNs, hostNowNs());
        EXPECT_NEAR(luma(first[0].picture, 10, 10), 235, 3);
        f.device->failDequeues(EIO, 1); // frame 2 is lost in the driver
        ASSERT_TRUE(f.device->deliver(QByteArray(500, 'x'), 3, 1000));
        ASSERT_TRUE(f.device->deliver(jpeg, 4, 2000));
        ASSERT_EQ(events.waitForFrames(2).size(), 2u);
        EXPECT_EQ(stream->droppedFrames(), 2);

        c.breakDown(*f.device, events);
        const std::vector<CameraError> errors = events.waitForError();
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0].kind(), c.kind) << errors[0].what();
        EXPECT_TRUE(errors[0].message().contains(QString::fromUtf8(c.says))) << errors[0].what();
        EXPECT_GE(stream->droppedFrames(), 2 + c.dropped);
        const auto stopping = std::chrono::steady_clock::now();
        stream.reset();
        EXPECT_LT(std::chrono::steady_clock::now() - stopping, 500ms);
        EXPECT_EQ(events.waitForFrames(0).size(), 2u) << "no frame after the error";
    }
}

} // namespace
