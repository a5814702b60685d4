// The V4L2 listing and capture code, run against a stand-in device.

#include "platform/camera/CameraStream.h"
#include "support/FakeV4l2Device.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <mutex>

using namespace reelbox;
using namespace reelbox::v4l2;
using namespace std::chrono_literals;

namespace {

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
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
    QByteArray bytes(width * height * 2, char(128));
    for (int i = 0; i < width * height; ++i)
        bytes[2 * i] = char(luma);
    return bytes;
}

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
    std::vector<CameraFrame> waitForFrames(std::size_t count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 3s, [&] { return m_frames.size() >= count; });
        return m_frames;
    }
    std::size_t frameCount() {
        std::lock_guard lock(m_mutex);
        return m_frames.size();
    }
    std::vector<CameraError> waitForError() { return waitForErrorFor(3s); }
    std::vector<CameraError> waitForErrorFor(std::chrono::milliseconds wait) {
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
    Fixture() {
        QFile node(path);
        EXPECT_TRUE(node.open(QIODevice::WriteOnly));
    }
};

TEST(V4l2Camera, IsListedWithTheFormatsItsDriverReports) {
    Fixture f;
    const std::vector<CameraInfo> cameras = listCameras(f.dir.path(), f.device);
    ASSERT_EQ(cameras.size(), 1u);
    EXPECT_EQ(cameras[0].id, f.path); // no /dev/v4l/by-id link leads here
    EXPECT_EQ(cameras[0].name, QStringLiteral("Fake Webcam"));
    EXPECT_FALSE(cameras[0].permissionDenied);
    EXPECT_EQ(cameras[0].formats, cameraFormats(webcamTable()));
    EXPECT_EQ(cameras[0].formats.size(), 3u);

    // One this user may not open is still listed, marked, without formats.
    f.device->refuseOpen(EACCES);
    const std::vector<CameraInfo> refused = listCameras(f.dir.path(), f.device);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_TRUE(refused[0].permissionDenied);
    EXPECT_TRUE(refused[0].formats.empty());
    EXPECT_EQ(refused[0].name, QStringLiteral("video4"));
}

TEST(V4l2Camera, OpeningARefusedDeviceSaysPermissionDenied) {
    Fixture f;
    for (const int refusal : {EACCES, EPERM}) {
        f.device->refuseOpen(refusal);
        try {
            openCamera(f.path, cameraFormats(webcamTable())[0], 30, f.device);
            ADD_FAILURE() << "opened";
        } catch (const CameraError& error) {
            EXPECT_TRUE(error.permissionDenied()) << error.what();
        }
    }
}

TEST(V4l2Camera, FramesCarryTheKernelTimeAndSequenceAndGapsCountAsDropped) {
    Fixture f;
    auto stream =
        openCamera(f.path, CameraFormat{64, 48, QStringLiteral("YUYV"), {}}, 15, f.device);
    EXPECT_EQ(stream->size(), QSize(64, 48));
    EXPECT_EQ(stream->frameRate(), 15);
    EXPECT_GE(f.device->requestedBuffers(), 8);
    Events events;
    stream->start(events.frames(), events.errors());
    EXPECT_TRUE(f.device->streaming());

    const qint64 base = 1'000'000'000'000; // 1000 s after boot
    struct Sent {
        std::uint32_t sequence;
        std::uint8_t luma;
    };
    const std::vector<Sent> sent{{5, 40}, {6, 80}, {9, 120}, {10, 200}};
    for (const Sent& s : sent)
        ASSERT_TRUE(f.device->deliver(yuyvFrame(64, 48, s.luma), s.sequence,
                                      base + s.sequence * 66'666'000));
    const std::vector<CameraFrame> frames = events.waitForFrames(sent.size());
    ASSERT_EQ(frames.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(frames[i].sequence, sent[i].sequence);
        EXPECT_EQ(frames[i].hostTimeNs, base + sent[i].sequence * 66'666'000);
        EXPECT_EQ(frames[i].picture.size(), QSize(64, 48));
        EXPECT_EQ(frames[i].picture.plane(0)[63 + 47 * frames[i].picture.stride(0)], sent[i].luma)
            << "each frame keeps its own picture";
    }
    EXPECT_EQ(stream->droppedFrames(), 2); // 7 and 8
    EXPECT_EQ(stream->deliveredFrames(), 4);
    // Every buffer went back to the driver.
    EXPECT_EQ(f.device->queuedBuffers(), f.device->requestedBuffers());
    stream->stop();
    EXPECT_FALSE(f.device->streaming());
}

TEST(V4l2Camera, MjpegFramesAreDecodedAndDamagedOnesDropped) {
    Fixture f;
    auto stream =
        openCamera(f.path, CameraFormat{64, 64, QStringLiteral("MJPG"), {}}, 30, f.device);
    Events events;
    stream->start(events.frames(), events.errors());
    auto jpegOf = [](int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(Qt::white);
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        EXPECT_TRUE(image.save(&buffer, "JPG", 90));
        return jpeg;
    };
    const QByteArray jpeg = jpegOf(64, 64);

    const qint64 before = nowNs();
    ASSERT_TRUE(f.device->deliver(QByteArray(500, 'x'), 1, 0));
    // A driver that doesn't stamp on the monotonic clock: the frame is timed as it comes out.
    ASSERT_TRUE(f.device->deliver(jpeg, 2, 123, false));
    const std::vector<CameraFrame> frames = events.waitForFrames(1);
    const qint64 after = nowNs();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].sequence, 2);
    EXPECT_GE(frames[0].hostTimeNs, before);
    EXPECT_LE(frames[0].hostTimeNs, after);
    EXPECT_NEAR(frames[0].picture.plane(0)[10 * frames[0].picture.stride(0) + 10], 235, 3);
    EXPECT_EQ(stream->droppedFrames(), 1);

    // A camera that sends another size than it agreed to: scaled to the agreed one.
    ASSERT_TRUE(f.device->deliver(jpegOf(96, 48), 3, nowNs()));
    const std::vector<CameraFrame> scaled = events.waitForFrames(2);
    ASSERT_EQ(scaled.size(), 2u);
    EXPECT_EQ(scaled[1].picture.size(), QSize(64, 64));
    EXPECT_NEAR(scaled[1].picture.plane(0)[40 * scaled[1].picture.stride(0) + 40], 235, 3);
    EXPECT_EQ(stream->droppedFrames(), 1);
}

// A failed dequeue is one lost frame, counted once; a queue that fails every dequeue ends the
// stream with an error instead of spinning.
TEST(V4l2Camera, AStuckQueueEndsTheStreamAndAGlitchCountsOnce) {
    Fixture f;
    auto stream =
        openCamera(f.path, CameraFormat{32, 24, QStringLiteral("YUYV"), {}}, 30, f.device);
    Events events;
    stream->start(events.frames(), events.errors());
    ASSERT_TRUE(f.device->deliver(yuyvFrame(32, 24, 100), 1, 1000));
    ASSERT_EQ(events.waitForFrames(1).size(), 1u);
    f.device->failDequeues(EIO, 1); // frame 2 is lost in the driver
    ASSERT_TRUE(f.device->deliver(yuyvFrame(32, 24, 100), 3, 2000));
    ASSERT_EQ(events.waitForFrames(2).size(), 2u);
    EXPECT_EQ(stream->droppedFrames(), 1);

    f.device->failDequeues(EIO, -1);
    const std::vector<CameraError> errors = events.waitForError();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].kind(), CameraError::Kind::failed) << errors[0].what();
    EXPECT_EQ(events.frameCount(), 2u);
}

// Frames that can never be read (too short, flagged as damaged) are dropped; after about two
// seconds of nothing else the stream ends with an error.
TEST(V4l2Camera, OnlyUnreadableFramesForTwoSecondsEndTheStream) {
    Fixture f;
    auto stream =
        openCamera(f.path, CameraFormat{32, 24, QStringLiteral("YUYV"), {}}, 30, f.device);
    Events events;
    stream->start(events.frames(), events.errors());
    const auto start = std::chrono::steady_clock::now();
    std::uint32_t sequence = 0;
    while (std::chrono::steady_clock::now() - start < 4s && events.frameCount() == 0) {
        const bool damaged = sequence % 2;
        f.device->deliver(damaged ? yuyvFrame(32, 24, 50) : QByteArray(100, 'x'), sequence++, 0,
                          true, damaged ? V4L2_BUF_FLAG_ERROR : 0);
        if (!events.waitForErrorFor(30ms).empty())
            break;
    }
    const std::vector<CameraError> errors = events.waitForError();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1900ms);
    EXPECT_TRUE(errors[0].message().contains(QStringLiteral("can't read"))) << errors[0].what();
    EXPECT_EQ(events.frameCount(), 0u);
    EXPECT_GE(stream->droppedFrames(), 30);
}

TEST(V4l2Camera, UnpluggedWhileStreamingEndsWithAnErrorAndStopsAtOnce) {
    Fixture f;
    auto stream =
        openCamera(f.path, CameraFormat{32, 24, QStringLiteral("YUYV"), {}}, 30, f.device);
    Events events;
    stream->start(events.frames(), events.errors());
    ASSERT_TRUE(f.device->deliver(yuyvFrame(32, 24, 100), 0, 1000));
    ASSERT_EQ(events.waitForFrames(1).size(), 1u);

    f.device->unplug();
    const std::vector<CameraError> errors = events.waitForError();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].kind(), CameraError::Kind::disconnected) << errors[0].what();
    EXPECT_TRUE(errors[0].message().contains(QStringLiteral("disconnected")));

    const auto before = std::chrono::steady_clock::now();
    stream->stop();
    stream.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    EXPECT_EQ(events.frameCount(), 1u) << "no frame after the error";
}

TEST(V4l2Camera, AFormatTheDeviceDoesntOfferIsRefused) {
    Fixture f;
    try {
        openCamera(f.path, CameraFormat{64, 48, QStringLiteral("NV12"), {}}, 30, f.device);
        ADD_FAILURE() << "opened";
    } catch (const CameraError& error) {
        EXPECT_EQ(error.kind(), CameraError::Kind::unsupportedFormat) << error.what();
        EXPECT_TRUE(error.message().contains(QStringLiteral("NV12")));
    }
}

} // namespace
