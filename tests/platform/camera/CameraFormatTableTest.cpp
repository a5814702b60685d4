// Format tables written down from real USB cameras, fed through the code that turns V4L2
// enumeration results into Reelbox's camera formats.

#include "platform/camera/V4l2FormatTable.h"
#include "platform/camera/V4l2FrameClock.h"

#include <gtest/gtest.h>

using namespace reelbox;
using namespace reelbox::v4l2;

namespace {

constexpr std::uint32_t yuyv = fourcc('Y', 'U', 'Y', 'V');
constexpr std::uint32_t mjpg = fourcc('M', 'J', 'P', 'G');
constexpr std::uint32_t h264 = fourcc('H', '2', '6', '4');
constexpr std::uint32_t compressed = 1, emulated = 2;

std::vector<FrameInterval> rates(std::initializer_list<double> fps) {
    std::vector<FrameInterval> intervals;
    for (double f : fps) {
        FrameInterval interval;
        // 7.5 fps is 2/15 s, the way UVC drivers report it.
        interval.discrete = f == 7.5 ? Fraction{2, 15} : Fraction{1, std::uint32_t(f)};
        intervals.push_back(interval);
    }
    return intervals;
}

FrameSize size(std::uint32_t w, std::uint32_t h, std::vector<FrameInterval> intervals) {
    FrameSize s;
    s.width = w;
    s.height = h;
    s.intervals = std::move(intervals);
    return s;
}

// Logitech HD Pro Webcam C920 (uvcvideo, firmware with H.264): YUYV, H264, MJPG.
std::vector<PixelFormat> c920() {
    const auto all = rates({30, 24, 20, 15, 10, 7.5, 5});
    return {
        {yuyv,
         0,
         {size(640, 480, all), size(160, 90, all), size(1280, 720, rates({10, 7.5, 5})),
          size(1920, 1080, rates({5}))}},
        {h264, compressed, {size(640, 480, all), size(1920, 1080, all)}},
        {mjpg,
         compressed,
         {size(640, 480, all), size(160, 90, all), size(1280, 720, all), size(1920, 1080, all)}}};
}

// A cheap "USB2.0 HD UVC WebCam": MJPG first, a size listed twice, a broken interval, and an
// emulated format from libv4l.
std::vector<PixelFormat> cheapWebcam() {
    FrameInterval broken; // 1/0 s
    broken.discrete = {1, 0};
    auto withBroken = rates({30});
    withBroken.push_back(broken);
    return {{mjpg,
             compressed,
             {size(1280, 720, rates({30})), size(640, 480, withBroken),
              size(1280, 720, rates({30})), size(352, 288, {broken})}},
            {yuyv, 0, {size(640, 480, rates({30, 15})), size(1280, 720, rates({10}))}},
            {fourcc('R', 'G', 'B', '3'), emulated, {size(640, 480, rates({30}))}},
            {fourcc('N', 'V', '1', '2'), emulated, {size(640, 480, rates({30}))}}};
}

FrameSize stepwise(std::uint32_t minW, std::uint32_t maxW, std::uint32_t stepW, std::uint32_t minH,
                   std::uint32_t maxH, std::uint32_t stepH) {
    FrameSize s;
    s.kind = Kind::stepwise;
    s.minWidth = minW, s.maxWidth = maxW, s.stepWidth = stepW;
    s.minHeight = minH, s.maxHeight = maxH, s.stepHeight = stepH;
    return s;
}

// A stepwise capture device (Raspberry Pi camera, bcm2835-v4l2): one size range, one
// continuous interval range from 1/90 s to 1 s.
std::vector<PixelFormat> stepwiseCamera() {
    FrameSize range = stepwise(32, 2592, 2, 32, 1944, 2);
    FrameInterval interval;
    interval.kind = Kind::continuous;
    interval.min = {1, 90};
    interval.max = {1, 1};
    interval.step = {1, 1};
    range.intervals = {interval};
    return {{fourcc('Y', 'U', '1', '2'), 0, {range}}};
}

std::vector<std::string> summary(const std::vector<CameraFormat>& formats) {
    std::vector<std::string> lines;
    for (const CameraFormat& f : formats) {
        QString line =
            QString::asprintf("%s %dx%d @", qPrintable(f.pixelFormat), f.width, f.height);
        for (const FrameRateRange& r : f.frameRates)
            line += r.minFps == r.maxFps ? QString::asprintf(" %g", r.maxFps)
                                         : QString::asprintf(" %g-%g", r.minFps, r.maxFps);
        lines.push_back(line.toStdString());
    }
    return lines;
}

TEST(CameraFormatTable, RecordedCamerasGiveTheirUsableFormatsInDeviceOrder) {
    struct Case {
        const char* camera;
        std::vector<PixelFormat> table;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases{
        {"Logitech C920: H.264 left out, every rate kept",
         c920(),
         {"YUYV 640x480 @ 30 24 20 15 10 7.5 5", "YUYV 160x90 @ 30 24 20 15 10 7.5 5",
          "YUYV 1280x720 @ 10 7.5 5", "YUYV 1920x1080 @ 5", "MJPG 640x480 @ 30 24 20 15 10 7.5 5",
          "MJPG 160x90 @ 30 24 20 15 10 7.5 5", "MJPG 1280x720 @ 30 24 20 15 10 7.5 5",
          "MJPG 1920x1080 @ 30 24 20 15 10 7.5 5"}},
        {"cheap webcam: repeats, broken intervals and emulated formats dropped",
         cheapWebcam(),
         {"MJPG 1280x720 @ 30", "MJPG 640x480 @ 30", "YUYV 640x480 @ 30 15", "YUYV 1280x720 @ 10"}},
        {"stepwise: common sizes in the range, largest first, the continuous range as one",
         stepwiseCamera(),
         {"YU12 2592x1944 @ 1-90", "YU12 2560x1440 @ 1-90", "YU12 1920x1080 @ 1-90",
          "YU12 1600x1200 @ 1-90", "YU12 1280x960 @ 1-90", "YU12 1280x720 @ 1-90",
          "YU12 1024x768 @ 1-90", "YU12 960x540 @ 1-90", "YU12 800x600 @ 1-90",
          "YU12 848x480 @ 1-90", "YU12 640x480 @ 1-90", "YU12 640x360 @ 1-90",
          "YU12 424x240 @ 1-90", "YU12 352x288 @ 1-90", "YU12 320x240 @ 1-90",
          "YU12 160x120 @ 1-90"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(summary(cameraFormats(c.table)), c.expected) << c.camera;
}

TEST(CameraFormatTable, RangesOfSizesKeepToTheirStepsAndEvenSizes) {
    struct Case {
        const char* name;
        FrameSize range;
        std::string expected;
    };
    FrameSize continuous = stepwise(100, 1000, 0, 100, 700, 0);
    continuous.kind = Kind::continuous;
    const Case cases[] = {
        // 1920 × 1080 is off the steps (1080 isn't a multiple of 16).
        {"16-pixel steps from 48", stepwise(48, 1920, 16, 48, 1088, 16),
         "1920x1088 1280x960 1280x720 1024x768 848x480 640x480 352x288 320x240"},
        {"odd maximum rounded down onto even steps", stepwise(1, 641, 1, 1, 481, 1),
         "640x480 640x360 424x240 352x288 320x240 160x120"},
        {"continuous", continuous,
         "1000x700 960x540 800x600 848x480 640x480 640x360 424x240 352x288 320x240 160x120"},
    };
    for (const Case& c : cases) {
        QString sizes;
        for (const QSize size : sizesInRange(c.range))
            sizes += QString::asprintf("%dx%d ", size.width(), size.height());
        EXPECT_EQ(sizes.toStdString(), c.expected + " ") << c.name;
    }
}

TEST(CameraFormatTable, FourCharacterCodesReadBothWays) {
    for (const char* text : {"MJPG", "YUYV", "NV12", "YU12", "H264"}) {
        EXPECT_EQ(fourccText(fourccCode(QString::fromLatin1(text))), QString::fromLatin1(text));
        EXPECT_EQ(isSupported(fourccCode(QString::fromLatin1(text))), QByteArray(text) != "H264")
            << text;
    }
    EXPECT_EQ(fourccText(fourcc('Y', '1', '0', ' ')), QStringLiteral("Y10"));
    EXPECT_EQ(fourccCode(QStringLiteral("MJPG")), 0x47504a4du);
}

TEST(V4l2FrameClock, KernelTimesAreUsedOnlyWhenTheyAreOnTheMonotonicClock) {
    constexpr std::uint32_t monotonic = 0x2000, copy = 0x4000, startOfExposure = 0x10000;
    const qint64 now = 5'000'000'000;
    struct Case {
        std::uint32_t flags;
        qint64 expected;
    };
    for (const Case& c :
         {Case{monotonic, 1'234'567'000}, Case{monotonic | startOfExposure, 1'234'567'000},
          Case{copy, now}, Case{0, now}})
        EXPECT_EQ(FrameClock::hostTimeNs({7, c.flags, 1, 234'567}, now), c.expected) << c.flags;
}

TEST(V4l2FrameClock, GapsInTheSequenceAreCountedAsDroppedFrames) {
    FrameClock clock;
    std::vector<qint64> missing;
    for (std::uint32_t sequence : {10u, 11u, 14u, 15u, 20u, 0u, 1u})
        missing.push_back(clock.account({sequence, 0, 0, 0}));
    // 12, 13 and 16–19 went missing; a counter that starts again loses nothing.
    EXPECT_EQ(missing, (std::vector<qint64>{0, 0, 2, 0, 4, 0, 0}));
    EXPECT_EQ(clock.dropped(), 6);
}

} // namespace
