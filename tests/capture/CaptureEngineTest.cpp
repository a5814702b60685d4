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

// Names the cases by their inputs (the raw bytes would include the padding).
void PrintTo(const Inputs& in, std::ostream* os) {
    *os << "Ppm" << int(in.ppm);
    if (in.loseEvery)
        *os << "LosingEvery" << in.loseEvery;
}

// Records the Test Camera at 640 × 360 and the Test Microphone for `ms` once the devices
// settled `settleMs`; the engine runs a while after the stop, so late samples are heard too.
QFuture<RecordingResult> record(const QString& path, int ms, const Inputs& setup,
                                int settleMs = 300) {
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
    test::runEvents(settleMs);
    engine.startRecording(path, setup.includeVideo);
    test::runEvents(ms);
    QFuture<RecordingResult> stopped = engine.stopRecording();
    EXPECT_TRUE(test::waitFor([&] { return stopped.isFinished(); }, 10000));
    test::runEvents(200);
    return stopped;
}

// What channel 0 of a recording holds: the onsets of the Test Microphone's clicks, in seconds,
// and how many runs of at least 470 zero samples (each sound buffer lost, 480 frames).
struct Sound {
    std::vector<double> clicks;
    int silentRuns = 0;
};

Sound channel0(const QString& path) {
    AudioReader reader(path);
    const int channels = reader.channelCount();
    AudioBuffer buffer;
    Sound sound;
    qint64 frame = 0, lastClick = -48000, zeros = 0;
    while (reader.read(buffer)) {
        for (qint64 i = 0; i < buffer.frames; ++i, ++frame) {
            const float sample = buffer.samples[size_t(i * channels)];
            if (std::fabs(sample) > 0.5f && frame - lastClick > 4800) {
                sound.clicks.push_back(double(frame) / AudioReader::sampleRate);
                lastClick = frame;
            }
            zeros = sample == 0.0f ? zeros + 1 : 0;
            sound.silentRuns += zeros == 470 ? 1 : 0;
        }
    }
    return sound;
}

// How far each flash (past the first 50 ms and before the end) lies from its nearest click.
std::vector<double> flashToClick(const QString& path, const std::vector<double>& frames,
                                 double duration) {
    const std::vector<double> clicks = channel0(path).clicks;
    VideoDecoder decoder(path);
    std::vector<double> apart;
    for (double flash : frames) {
        // A flash on the file's very first picture has its click in a sound buffer that began
        // before the file, and such buffers are left out whole.
        if (flash > duration - 0.01 || flash < 0.05)
            continue;
        const std::optional<YuvPicture> picture = decoder.yuvFrameAt(flash + 1e-6);
        if (!picture || picture->isNull() ||
            picture->plane(0)[180 * picture->stride(0) + 320] <= 220)
            continue;
        double nearest = 1e9;
        for (double click : clicks)
            if (std::fabs(click - flash) < std::fabs(nearest))
                nearest = click - flash;
        apart.push_back(nearest);
    }
    return apart;
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

class CaptureSync : public ::testing::TestWithParam<Inputs> {};

// Every picture follows the one before by a frame's time. Sound buffers the device never
// delivered become silence of their length: the sound after each gap stays at its time.
TEST_P(CaptureSync, PicturesAndSoundStayTogether) {
    const Inputs setup = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("take.mov"));
    const RecordingResult result = record(path, 3600, setup).result();
    EXPECT_EQ(result.url, path);
    EXPECT_EQ(result.audioChannelCount, 2);
    EXPECT_EQ(result.droppedFrames, 0);
    EXPECT_GT(result.startTimeNs, result.requestedAtNs);
    EXPECT_LT(result.startTimeNs - result.requestedAtNs, 300'000'000);

    const std::vector<double> frames = videoFrameTimes(path);
    ASSERT_GE(frames.size(), 100u);
    EXPECT_DOUBLE_EQ(frames.front(), 0.0);
    const double frameTime = (1.0 + setup.ppm * 1e-6) / 30;
    for (size_t i = 1; i < frames.size(); ++i)
        ASSERT_NEAR(frames[i] - frames[i - 1], frameTime, 0.0005) << "picture " << i;
    EXPECT_NEAR(result.duration, frames.back() + frameTime, 0.001);
    if (setup.loseEvery) {
        EXPECT_GE(channel0(path).silentRuns, 10) << "each lost buffer is silence";
    }

    // The microphone clicks at the flash's instant of the host clock, whatever its own clock;
    // a click that fell into a lost buffer is silence itself.
    int heard = 0;
    for (double a : flashToClick(path, frames, result.duration))
        if (!setup.loseEvery || std::fabs(a) < 0.5) {
            ++heard;
            EXPECT_LE(std::fabs(a), 0.002) << "ppm " << setup.ppm;
        }
    EXPECT_GE(heard, 2);
}

INSTANTIATE_TEST_SUITE_P(MicrophoneClock, CaptureSync,
                         ::testing::Values(Inputs{true, 2, true, 0}, Inputs{true, 2, true, 200},
                                           Inputs{true, 2, true, 3000},
                                           Inputs{true, 2, true, 0, 23}),
                         [](const auto& info) { return ::testing::PrintToString(info.param); });

// A recording with nothing in it is an error, and samples after the stop start no file.
TEST(CaptureEngine, RecordsWhatIsConnectedAndNothingIsAnError) {
    const struct {
        const char* name;
        Inputs setup;
        int settleMs, recordMs;
        int channels; // -1: nothing recorded
        bool video;
    } cases[] = {
        {"camera and eight channels", {true, 8, true}, 300, 1200, 8, true},
        {"camera without microphone", {true, 0, true}, 300, 1200, 0, true},
        {"sound only", {true, 2, false}, 300, 1200, 2, false},
        {"sound only without camera", {false, 1, false}, 300, 1200, 1, false},
        {"stopped before any sample", {true, 2, true}, 0, 0, -1, false},
        {"pictures without a camera", {false, 2, true}, 0, 500, -1, false},
        {"sound without a microphone", {true, 0, false}, 0, 500, -1, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("take.mov"));
        const QFuture<RecordingResult> stopped = record(path, c.recordMs, c.setup, c.settleMs);
        if (c.channels < 0) {
            try {
                stopped.result();
                ADD_FAILURE() << "a result";
            } catch (const CaptureError& e) {
                EXPECT_EQ(e.kind(), CaptureError::Kind::notRecording);
                EXPECT_EQ(e.message(), QStringLiteral("Nothing is being recorded."));
            }
            EXPECT_FALSE(QFileInfo::exists(path));
            continue;
        }
        const RecordingResult result = stopped.result();
        EXPECT_EQ(result.audioChannelCount, c.channels);
        const MovieInfo info = probeMovie(path);
        EXPECT_EQ(info.video.size(), c.video ? 1u : 0u);
        ASSERT_EQ(info.audio.size(), c.channels ? 1u : 0u);
        if (c.channels) {
            EXPECT_EQ(info.audio[0].channelCount, c.channels);
        }
        EXPECT_GT(result.duration, 1.0);
        EXPECT_NEAR(info.durationSeconds, result.duration, 0.03);
        if (!c.video) {
            EXPECT_NEAR(info.audio[0].durationSeconds, result.duration, 0.001);
        }
    }
}
