// Camera streams: the contract every camera keeps (frames in order at their own times, gaps
// counted as dropped, a prompt stop with nothing after it), run over the Test Camera and over the
// V4L2 code on a stand-in device; then what each does on its own.
#include "platform/camera/CameraStream.h"
#include "platform/camera/CameraDevices.h"
#include "platform/virtual/TestCamera.h"
#include "platform/virtual/TestCameraPattern.h"
#include "support/FakeV4l2Device.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <array>
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

qint64 nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int luma(const YuvPicture& picture, int x, int y) {
    return picture.plane(0)[std::ptrdiff_t(y) * picture.stride(0) + x];
}
bool allWhite(const YuvPicture& picture) {
    for (int y = 0; y < picture.size().height(); y += 7)
        for (int x = 0; x < picture.size().width(); x += 7)
            if (luma(picture, x, y) != 235)
                return false;
    return true;
}

// Reads the seven-segment frame number off the top left of a test pattern picture; -1 when
// there is none.
qint64 readFrameNumber(const YuvPicture& picture) {
    constexpr std::array<int, 10> segments{0x3f, 0x06, 0x5b, 0x4f, 0x66,
                                           0x6d, 0x7d, 0x07, 0x7f, 0x6f};
    const int w = std::max(3, picture.size().height() / 16);
    const int t = std::max(1, w / 5), gap = std::max(1, w / 3), margin = 2 * gap;
    qint64 number = -1;
    for (int i = 0;; ++i) {
        const int x = margin + i * (w + gap), y = margin;
        if (x + w >= picture.size().width() || luma(picture, x + w / 2, y + w / 2) > 18)
            break; // off the black plate
        const std::array<std::pair<int, int>, 7> centres{{{x + w / 2, y + t / 2},
                                                          {x + w - 1 - t / 2, y + w / 2},
                                                          {x + w - 1 - t / 2, y + w + w / 2},
                                                          {x + w / 2, y + 2 * w - 1 - t / 2},
                                                          {x + t / 2, y + w + w / 2},
                                                          {x + t / 2, y + w / 2},
                                                          {x + w / 2, y + w}}};
        int lit = 0;
        for (size_t s = 0; s < centres.size(); ++s)
            if (luma(picture, centres[s].first, centres[s].second) > 128)
                lit |= 1 << s;
        const auto digit = std::find(segments.begin(), segments.end(), lit);
        if (digit == segments.end())
            return -1;
        number = std::max<qint64>(number, 0) * 10 + (digit - segments.begin());
    }
    return number;
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

// What a stream hands its handlers, with the instant each frame arrived.
class Events {
public:
    CameraStream::FrameHandler frames() {
        return [this](const CameraFrame& frame) {
            const qint64 arrived = nowNs();
            std::lock_guard lock(m_mutex);
            m_frames.push_back(frame);
            m_arrivals.push_back(arrived);
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
    std::vector<CameraFrame> waitForFrames(std::size_t count, std::chrono::milliseconds wait = 4s) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, wait, [&] { return m_frames.size() >= count; });
        return m_frames;
    }
    std::vector<qint64> arrivals() {
        std::lock_guard lock(m_mutex);
        return m_arrivals;
    }
    std::size_t frameCount() {
        std::lock_guard lock(m_mutex);
        return m_frames.size();
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
    std::vector<qint64> m_arrivals;
    std::vector<CameraError> m_errors;
};

struct Fixture {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("video4"));
    std::shared_ptr<FakeV4l2Device> device =
        std::make_shared<FakeV4l2Device>(path, QStringLiteral("Fake Webcam"), webcamTable());
    // The stand-in's kernel stamps: whole microseconds, in the past.
    const qint64 base = (nowNs() / 1000 - 10'000'000) * 1000;
    Fixture() {
        QFile node(path);
        EXPECT_TRUE(node.open(QIODevice::WriteOnly));
    }
    std::unique_ptr<CameraStream> openV4l2(int width, int height, const char* fourcc, double fps) {
        return openCamera(path, CameraFormat{width, height, QString::fromUtf8(fourcc), {}}, fps,
                          device);
    }
};

CameraFormat format(int width, int height) {
    return CameraFormat{width, height, QStringLiteral("YU12"), {{30, 30}}};
}

// A camera under the contract: how to open it, how frame `n` comes to exist (the Test Camera
// makes its own), when frame `n` was taken, whether a picture is frame `n`'s, how long the handler
// holds up the third frame and how many frames to wait for.
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

void PrintTo(const Backend& b, std::ostream* os) {
    *os << b.name;
}

class CameraContract : public ::testing::TestWithParam<Backend> {
protected:
    Fixture f;
};

// In sequence order, each at its own instant with its own picture; a gap (a held-up handler or
// frames the driver lost) counts as dropped.
TEST_P(CameraContract, FramesComeInOrderAtTheirTimesAndGapsCountAsDropped) {
    const Backend& b = GetParam();
    auto stream = b.open(f);
    Events events;
    auto collect = events.frames();
    int calls = 0;
    stream->start(
        [&](const CameraFrame& frame) {
            collect(frame);
            if (++calls == 3)
                std::this_thread::sleep_for(b.stall);
        },
        events.errors());
    const bool standIn = !b.fed.empty();
    if (standIn) {
        EXPECT_TRUE(f.device->streaming());
        EXPECT_GE(f.device->requestedBuffers(), 8);
    }
    for (std::uint32_t n : b.fed)
        b.feed(f, n);
    const std::vector<CameraFrame> frames = events.waitForFrames(b.frames);
    if (standIn) {
        EXPECT_EQ(f.device->queuedBuffers(), f.device->requestedBuffers()) << "all given back";
    }
    stream->stop();
    ASSERT_GE(frames.size(), b.frames);
    const std::vector<qint64> arrivals = events.arrivals();
    qint64 gaps = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(frames[i].sequence);
        EXPECT_EQ(frames[i].hostTimeNs, b.timeOf(f, frames[i].sequence));
        EXPECT_GE(arrivals[i], frames[i].hostTimeNs) << "delivered before it was taken";
        EXPECT_EQ(frames[i].picture.size(), stream->size());
        EXPECT_TRUE(b.ownPicture(frames[i])) << "each frame keeps its own picture";
        if (i > 0) {
            EXPECT_GT(frames[i].sequence, frames[i - 1].sequence);
            gaps += frames[i].sequence - frames[i - 1].sequence - 1;
        }
    }
    EXPECT_GE(gaps, 2);
    EXPECT_EQ(stream->droppedFrames(), gaps);
    EXPECT_EQ(stream->deliveredFrames(), qint64(events.frameCount()));
}

TEST_P(CameraContract, StopsPromptlyAndDeliversNothingAfterwards) {
    const Backend& b = GetParam();
    auto stream = b.open(f);
    Events events;
    stream->start(events.frames(), events.errors());
    for (std::uint32_t n : {1, 2})
        b.feed(f, n);
    ASSERT_GE(events.waitForFrames(2).size(), 2u);
    const auto before = std::chrono::steady_clock::now();
    stream->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    EXPECT_FALSE(f.device->streaming());
    const qint64 delivered = stream->deliveredFrames();
    b.feed(f, 3);
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(stream->deliveredFrames(), delivered);
    stream->stop(); // again: nothing happens

    // Never started: destroyed without waiting.
    stream.reset();
    b.open(f).reset();
}

INSTANTIATE_TEST_SUITE_P(
    Cameras, CameraContract,
    ::testing::Values(
        Backend{"TestCamera",
                [](Fixture&) { return CameraStream::open(testCameraId(), format(320, 180), 30); },
                [](Fixture&, std::uint32_t) {},
                [](Fixture&, qint64 n) { return testCameraFrameTimeNs(n); },
                [](const CameraFrame& f) {
                    return f.sequence % 30 ? readFrameNumber(f.picture) == f.sequence
                                           : allWhite(f.picture);
                },
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

// Unhindered, every frame comes, a flash among them, the last within a frame or two of its
// instant. (Order, times and each frame's own picture: the contract above.)
TEST(TestCamera, DeliversEveryFrameInRealTime) {
    auto stream = CameraStream::open(testCameraId(), format(640, 360), 30);
    ASSERT_EQ(stream->size(), QSize(640, 360));
    Events events;
    stream->start(events.frames());
    const std::vector<CameraFrame> frames = events.waitForFrames(33);
    const std::vector<qint64> arrivals = events.arrivals();
    stream->stop();
    ASSERT_GE(frames.size(), 33u);
    EXPECT_EQ(stream->droppedFrames(), 0);
    EXPECT_EQ(frames.back().sequence - frames.front().sequence + 1, qint64(frames.size()));
    EXPECT_TRUE(std::any_of(frames.begin(), frames.end(),
                            [](const CameraFrame& f) { return allWhite(f.picture); }));
    EXPECT_LT(arrivals.back() - frames.back().hostTimeNs, 70'000'000);
}

TEST(TestCamera, YuvPatternIsTheRgbPatternInTheOtherColourSpace) {
    const QSize size(320, 180);
    for (const qint64 frame : {41, 1234567}) {
        const QImage rgb = TestCameraPattern::render(frame, size);
        YuvPicture yuv(size, YuvPicture::Matrix::bt601);
        TestCameraPattern::renderInto(yuv, frame);
        for (int y = 1; y < size.height(); y += 6)
            for (int x = 1; x < size.width(); x += 6) {
                const QRgb p = rgb.pixel(x, y);
                const double expected =
                    16 + 219 * (0.299 * qRed(p) + 0.587 * qGreen(p) + 0.114 * qBlue(p)) / 255;
                ASSERT_NEAR(luma(yuv, x, y), expected, 1.0) << x << "," << y;
            }
        EXPECT_EQ(readFrameNumber(yuv), frame);
    }
}

TEST(TestCamera, IsListedLastWhenVirtualDevicesAreAskedFor) {
    qputenv("REELBOX_VIRTUAL_DEVICES", "1");
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
        if (!events.waitForError(30ms).empty())
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
