#include "platform/virtual/TestCamera.h"
#include "platform/camera/CameraDevices.h"
#include "platform/camera/CameraStream.h"
#include "platform/virtual/TestCameraPattern.h"

#include <QImage>
#include <array>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace reelbox;
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

struct Arrival {
    CameraFrame frame;
    qint64 arrivedNs;
};

// Collects frames until `count` have arrived (or a few seconds passed).
class Collector {
public:
    explicit Collector(std::size_t count) : m_count(count) {}
    CameraStream::FrameHandler handler() {
        return [this](const CameraFrame& frame) {
            const qint64 arrived = nowNs();
            std::lock_guard lock(m_mutex);
            m_frames.push_back({frame, arrived});
            m_changed.notify_all();
        };
    }
    std::vector<Arrival> wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, 4s, [this] { return m_frames.size() >= m_count; });
        return m_frames;
    }
    // Everything delivered so far.
    std::vector<Arrival> all() {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }

private:
    std::size_t m_count;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Arrival> m_frames;
};

CameraFormat format(int width, int height) {
    return CameraFormat{width, height, QStringLiteral("YU12"), {{30, 30}}};
}

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

TEST(TestCamera, DeliversEveryFrameAtItsInstantWithItsNumberBurntIn) {
    auto stream = CameraStream::open(testCameraId(), format(640, 360), 30);
    ASSERT_EQ(stream->size(), QSize(640, 360));
    Collector collector(33);
    stream->start(collector.handler());
    const std::vector<Arrival> frames = collector.wait();
    stream->stop();
    ASSERT_GE(frames.size(), 33u);
    EXPECT_EQ(stream->droppedFrames(), 0);
    int flashes = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const CameraFrame& f = frames[i].frame;
        SCOPED_TRACE(f.sequence);
        if (i > 0) {
            EXPECT_EQ(f.sequence, frames[i - 1].frame.sequence + 1);
        }
        EXPECT_EQ(f.hostTimeNs, testCameraFrameTimeNs(f.sequence));
        EXPECT_GE(frames[i].arrivedNs, f.hostTimeNs) << "delivered before it was taken";
        // Every picture is still its own frame's, though the stream has moved on since.
        const bool flash = f.sequence % 30 == 0;
        EXPECT_EQ(allWhite(f.picture), flash);
        if (flash) {
            ++flashes;
            EXPECT_EQ(f.hostTimeNs % 1'000'000'000, 0);
        } else {
            EXPECT_EQ(readFrameNumber(f.picture), f.sequence);
        }
    }
    EXPECT_GE(flashes, 1);
    // Real time: the last frame came within a frame or two of its instant.
    EXPECT_LT(frames.back().arrivedNs - frames.back().frame.hostTimeNs, 70'000'000);
}

TEST(TestCamera, AHandlerThatHoldsUpTheStreamCostsFramesAndTheyAreCounted) {
    auto stream = CameraStream::open(testCameraId(), format(320, 180), 30);
    Collector collector(20);
    int calls = 0;
    auto collect = collector.handler();
    stream->start([&](const CameraFrame& frame) {
        collect(frame);
        if (++calls == 3)
            std::this_thread::sleep_for(500ms);
    });
    ASSERT_GE(collector.wait().size(), 20u);
    stream->stop();
    const std::vector<Arrival> frames = collector.all();
    qint64 gaps = 0;
    for (std::size_t i = 1; i < frames.size(); ++i)
        gaps += frames[i].frame.sequence - frames[i - 1].frame.sequence - 1;
    EXPECT_GE(gaps, 4); // 500 ms is 15 frames, of which 8 wait to be delivered late
    EXPECT_EQ(stream->droppedFrames(), gaps);
    EXPECT_EQ(stream->deliveredFrames(), qint64(frames.size()));
}

TEST(TestCamera, StopsPromptlyAndDeliversNothingAfterwards) {
    auto stream = CameraStream::open(testCameraId(), format(1920, 1080), 30);
    Collector collector(2);
    stream->start(collector.handler());
    ASSERT_GE(collector.wait().size(), 2u);
    const auto before = std::chrono::steady_clock::now();
    stream->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 500ms);
    const qint64 delivered = stream->deliveredFrames();
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(stream->deliveredFrames(), delivered);
    stream->stop(); // again: nothing happens

    // Never started: destroyed without waiting.
    auto idle = CameraStream::open(testCameraId(), format(640, 360), 30);
    idle.reset();
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

} // namespace
