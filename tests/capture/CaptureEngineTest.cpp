#include "capture/CaptureEngine.h"
#include "platform/CaptureError.h"
#include "platform/media/AudioReader.h"
#include "platform/media/MovieInfo.h"
#include "platform/media/VideoDecoder.h"
#include "platform/media/VideoTimes.h"
#include "platform/virtual/TestMicrophone.h"
#include "support/TestSupport.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>

using namespace reelbox;

namespace {

CameraFormat format(int w, int h, std::vector<FrameRateRange> rates) {
    return CameraFormat{w, h, QStringLiteral("YUYV"), std::move(rates)};
}

struct Inputs {
    bool camera = true;
    int channels = 2; // 0: no microphone
    bool includeVideo = true;
    double ppm = 0;
    int loseEvery = 0; // the microphone loses every so many buffers
};

// Records from the Test Camera at 640 × 360 and the Test Microphone through the engine.
RecordingResult record(const QString& path, double seconds, const Inputs& setup) {
    test::ensureApplication();
    const test::ScopedEnvironment channels("REELBOX_TEST_MIC_CHANNELS",
                                           QByteArray::number(setup.channels));
    const test::ScopedEnvironment ppm("REELBOX_TEST_MIC_PPM", QByteArray::number(setup.ppm));
    const test::ScopedEnvironment lose("REELBOX_TEST_MIC_LOSE_EVERY",
                                       QByteArray::number(setup.loseEvery));
    CaptureEngine engine;
    engine.setPreferredSize(QSize(640, 360));
    std::optional<SoundDevice> microphone;
    if (setup.channels > 0)
        microphone = TestMicrophone::deviceInfo(setup.channels);
    engine.configure(setup.camera ? std::optional(testCameraInfo()) : std::nullopt, microphone);
    test::runEvents(300); // the devices settle, as in the recorder before the record key
    engine.startRecording(path, setup.includeVideo);
    test::runEvents(int(seconds * 1000));
    QFuture<RecordingResult> stopped = engine.stopRecording();
    EXPECT_TRUE(test::waitFor([&] { return stopped.isFinished(); }, 10000));
    return stopped.result();
}

// Onsets of the Test Microphone's clicks on channel 0, in seconds.
std::vector<double> clickTimes(const QString& path) {
    AudioReader reader(path);
    const int channels = reader.channelCount();
    AudioBuffer buffer;
    std::vector<double> clicks;
    qint64 frame = 0, lastClick = -48000;
    while (reader.read(buffer)) {
        for (qint64 i = 0; i < buffer.frames; ++i, ++frame)
            if (std::fabs(buffer.samples[size_t(i * channels)]) > 0.5f &&
                frame - lastClick > 4800) {
                clicks.push_back(double(frame) / AudioReader::sampleRate);
                lastClick = frame;
            }
    }
    return clicks;
}

// Times of the white pictures.
std::vector<double> flashTimes(const QString& path, const std::vector<double>& frames) {
    VideoDecoder decoder(path);
    std::vector<double> flashes;
    for (double t : frames) {
        const std::optional<YuvPicture> picture = decoder.yuvFrameAt(t + 1e-6);
        if (picture && !picture->isNull() &&
            picture->plane(0)[180 * picture->stride(0) + 320] > 220)
            flashes.push_back(t);
    }
    return flashes;
}

// How far each flash (past the first 50 ms and before the end) lies from its nearest click.
std::vector<double> flashToClick(const QString& path, const std::vector<double>& frames,
                                 double duration) {
    const std::vector<double> clicks = clickTimes(path);
    std::vector<double> apart;
    for (double flash : flashTimes(path, frames)) {
        // A flash on the file's very first picture has its click in a sound buffer that began
        // before the file, and such buffers are left out whole.
        if (flash > duration - 0.01 || flash < 0.05)
            continue;
        double nearest = 1e9;
        for (double click : clicks)
            if (std::fabs(click - flash) < std::fabs(nearest))
                nearest = click - flash;
        apart.push_back(nearest);
    }
    return apart;
}

// Runs of at least `minimum` zero samples on channel 0.
int silentRuns(const QString& path, qint64 minimum) {
    AudioReader reader(path);
    const int channels = reader.channelCount();
    AudioBuffer buffer;
    int runs = 0;
    qint64 zeros = 0;
    while (reader.read(buffer))
        for (qint64 i = 0; i < buffer.frames; ++i) {
            zeros = buffer.samples[size_t(i * channels)] == 0.0f ? zeros + 1 : 0;
            runs += zeros == minimum ? 1 : 0;
        }
    return runs;
}

} // namespace

TEST(CaptureEngine, ChoosesTheCameraFormat) {
    const struct {
        const char* name;
        std::vector<CameraFormat> formats;
        std::optional<QSize> size;
        double frameRate;
    } cases[] = {
        {"1080p even after a larger one",
         {format(3840, 2160, {{1, 30}}), format(1920, 1080, {{5, 60}})},
         QSize(1920, 1080),
         30},
        {"the largest up to 1920 wide",
         {format(1280, 720, {{30, 30}}), format(3840, 2160, {{30, 30}})},
         QSize(1280, 720),
         30},
        {"equal area: the earlier",
         {format(960, 720, {{30, 30}}), format(1280, 540, {{30, 30}})},
         QSize(960, 720),
         30},
        {"29.9 counts", {format(640, 480, {{29.97, 29.97}})}, QSize(640, 480), 29.97},
        {"too slow formats are passed over",
         {format(1920, 1080, {{1, 15}}), format(800, 600, {{60, 60}})},
         QSize(800, 600),
         60},
        {"nothing fast enough", {format(1920, 1080, {{1, 25}})}, std::nullopt, 0},
        {"nothing narrow enough", {format(3840, 2160, {{30, 30}})}, std::nullopt, 0},
    };
    for (const auto& c : cases) {
        CameraInfo camera;
        camera.formats = c.formats;
        const std::optional<CameraFormatChoice> choice = CaptureEngine::selectBestFormat(camera);
        ASSERT_EQ(choice.has_value(), c.size.has_value()) << c.name;
        if (!choice)
            continue;
        EXPECT_EQ(QSize(choice->format.width, choice->format.height), *c.size) << c.name;
        EXPECT_DOUBLE_EQ(choice->frameRate, c.frameRate) << c.name;
    }
}

class CaptureSync : public ::testing::TestWithParam<double> {};

// Flashes and their clicks meet in the file, whatever the microphone's clock, and every
// picture follows the one before by a frame's time.
TEST_P(CaptureSync, PicturesAndSoundStayTogether) {
    const double ppm = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.mov"));
    const RecordingResult result = record(path, 3.6, Inputs{true, 2, true, ppm});
    EXPECT_EQ(result.url, path);
    EXPECT_EQ(result.audioChannelCount, 2);
    EXPECT_EQ(result.droppedFrames, 0);
    EXPECT_GT(result.startTimeNs, result.requestedAtNs);
    EXPECT_LT(result.startTimeNs - result.requestedAtNs, 300'000'000);

    const std::vector<double> frames = videoFrameTimes(path);
    ASSERT_GE(frames.size(), 100u);
    EXPECT_DOUBLE_EQ(frames.front(), 0.0);
    const double frameTime = (1.0 + ppm * 1e-6) / 30;
    for (size_t i = 1; i < frames.size(); ++i)
        ASSERT_NEAR(frames[i] - frames[i - 1], frameTime, 0.0005) << "picture " << i;
    EXPECT_NEAR(result.duration, frames.back() + frameTime, 0.001);

    // The microphone clicks at the flash's instant, a whole second of the host clock,
    // whatever its own clock: in the file the two must meet.
    const std::vector<double> apart = flashToClick(path, frames, result.duration);
    EXPECT_GE(apart.size(), 2u);
    for (double a : apart)
        EXPECT_LE(std::fabs(a), 0.002) << "ppm " << ppm;
}

INSTANTIATE_TEST_SUITE_P(MicrophoneClock, CaptureSync, ::testing::Values(0.0, 200.0, 3000.0));

// Sound buffers the device never delivered (an overrun) become silence of their length: the
// sound after each gap stays at its time, with its pictures.
TEST(CaptureEngine, LostSoundBuffersLeaveSilenceAndTheSoundInPlace) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.mov"));
    const RecordingResult result = record(path, 3.6, Inputs{true, 2, true, 0, 23});
    const std::vector<double> frames = videoFrameTimes(path);
    ASSERT_GE(frames.size(), 100u);
    EXPECT_GE(silentRuns(path, 470), 10) << "each lost buffer (480 frames) is silence";
    // A click that fell into a lost buffer is silence itself; every click that is there sits
    // on its flash.
    int heard = 0;
    for (double a : flashToClick(path, frames, result.duration))
        if (std::fabs(a) < 0.5) {
            ++heard;
            EXPECT_LE(std::fabs(a), 0.002) << "a click moved by a gap before it";
        }
    EXPECT_GE(heard, 2);
}

TEST(CaptureEngine, RecordsWhatIsConnected) {
    const struct {
        const char* name;
        Inputs setup;
        bool video;
        int channels;
    } cases[] = {
        {"camera and eight channels", {true, 8, true, 0}, true, 8},
        {"camera without microphone", {true, 0, true, 0}, true, 0},
        {"sound only", {true, 2, false, 0}, false, 2},
        {"sound only without camera", {false, 1, false, 0}, false, 1},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("take.mov"));
        const RecordingResult result = record(path, 1.2, c.setup);
        EXPECT_EQ(result.audioChannelCount, c.channels) << c.name;
        const MovieInfo info = probeMovie(path);
        EXPECT_EQ(info.video.size(), c.video ? 1u : 0u) << c.name;
        ASSERT_EQ(info.audio.size(), c.channels ? 1u : 0u) << c.name;
        if (c.channels) {
            EXPECT_EQ(info.audio[0].channelCount, c.channels) << c.name;
        }
        EXPECT_GT(result.duration, 1.0) << c.name;
        EXPECT_NEAR(info.durationSeconds, result.duration, 0.03) << c.name;
        if (!c.video) {
            EXPECT_NEAR(info.audio[0].durationSeconds, result.duration, 0.001) << c.name;
        }
    }
}

TEST(CaptureEngine, NothingRecordedIsAnError) {
    const struct {
        const char* name;
        Inputs setup;
        int waitMs;
    } cases[] = {
        {"stopped before any sample", {true, 2, true, 0}, 0},
        {"pictures without a camera", {false, 2, true, 0}, 500},
        {"sound without a microphone", {true, 0, false, 0}, 500},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("take.mov"));
        test::ensureApplication();
        const test::ScopedEnvironment channels("REELBOX_TEST_MIC_CHANNELS", "2");
        CaptureEngine engine;
        engine.setPreferredSize(QSize(640, 360));
        engine.configure(c.setup.camera ? std::optional(testCameraInfo()) : std::nullopt,
                         c.setup.channels ? std::optional(TestMicrophone::deviceInfo(2))
                                          : std::nullopt);
        engine.startRecording(path, c.setup.includeVideo);
        test::runEvents(c.waitMs);
        QFuture<RecordingResult> stopped = engine.stopRecording();
        ASSERT_TRUE(test::waitFor([&] { return stopped.isFinished(); }, 5000)) << c.name;
        try {
            stopped.result();
            ADD_FAILURE() << c.name << ": a result";
        } catch (const CaptureError& e) {
            EXPECT_EQ(e.kind(), CaptureError::Kind::notRecording) << c.name;
            EXPECT_EQ(e.message(), QStringLiteral("Nothing is being recorded.")) << c.name;
        }
        // Nothing is left armed: later samples start no file.
        test::runEvents(200);
        EXPECT_FALSE(QFileInfo::exists(path)) << c.name;
    }
}
