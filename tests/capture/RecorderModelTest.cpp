#include "capture/RecorderModel.h"
#include "capture/CameraPreview.h"
#include "capture/CaptureServices.h"
#include "capture/RecordingRecovery.h"
#include "model/TakeLibrary.h"
#include "model/UserSettings.h"
#include "platform/media/MovieInfo.h"
#include "platform/virtual/TestMicrophone.h"
#include "support/CliRun.h"
#include "support/PrivatePipeWire.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <sys/resource.h>
#include <thread>

using namespace reelbox;

namespace {

QString takeFolders(const QString& root) {
    return QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot).join(u',');
}

// A recorder on the virtual devices at 640 × 360, its settings in a temporary home.
struct Recorder {
    test::TemporaryHome home;
    TakeLibrary library{home.filePath(QStringLiteral("Takes"))};
    std::unique_ptr<CaptureServices> services; // made once the application is
    std::unique_ptr<RecorderModel> model;
    std::optional<Take> finished; // the last take announced

    explicit Recorder(int countdown, int channels = 2, bool microphone = true) {
        test::ensureApplication();
        qputenv("REELBOX_TEST_MIC_CHANNELS", QByteArray::number(channels));
        services = std::make_unique<CaptureServices>();
        model = std::make_unique<RecorderModel>(services->devices(), services->sound());
        QObject::connect(model.get(), &RecorderModel::takeFinished,
                         [this](const Take& t) { finished = t; });
        model->setCountdownSeconds(countdown);
        model->setPreferredVideoSize(QSize(640, 360));
        if (!microphone)
            services->devices().setMicrophoneID(std::nullopt);
    }
    ~Recorder() { qunsetenv("REELBOX_TEST_MIC_CHANNELS"); }

    void activate(size_t channels) {
        model->activate(&library);
        ASSERT_TRUE(test::waitFor([&] { return model->channels().size() == channels; }, 3000));
    }

    // Records about `ms` and waits for the take.
    std::optional<Take> record(int ms) {
        model->toggleRecording(library);
        EXPECT_EQ(model->state().kind, RecorderState::Kind::recording);
        test::runEvents(ms);
        model->toggleRecording(library);
        EXPECT_EQ(model->state().kind, RecorderState::Kind::finishing);
        model->toggleRecording(library); // ignored while finishing
        EXPECT_TRUE(
            test::waitFor([&] { return model->state().kind == RecorderState::Kind::idle; }, 10000));
        return finished;
    }
};

} // namespace

TEST(RecorderModel, ClipLightsLatchAboveHalfADecibelBelowFullScale) {
    const struct {
        std::vector<float> peaks;
        std::vector<bool> before, after;
    } cases[] = {
        {{-0.5f, -0.49f}, {false, false}, {false, true}},
        {{-40.0f, -160.0f}, {true, false}, {true, false}}, // stays on while peaks are low
        {{0.0f, -0.51f, 3.0f}, {false, false, false}, {true, false, true}},
    };
    for (const auto& c : cases) {
        std::vector<LevelMeter::Level> levels;
        for (float peak : c.peaks)
            levels.push_back({-60.0f, peak});
        std::vector<bool> clipped = c.before;
        RecorderModel::latchClips(clipped, levels);
        EXPECT_EQ(clipped, c.after);
    }
}

TEST(RecorderModel, CancelledCountdownRecordsNothing) {
    Recorder recorder(3);
    recorder.activate(2);
    recorder.model->toggleRecording(recorder.library);
    EXPECT_EQ(recorder.model->state(), RecorderState::countdown(3));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(test::waitFor(
        [&] { return recorder.model->state() == RecorderState::countdown(2); }, 3000));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(990));
    recorder.model->toggleRecording(recorder.library);
    EXPECT_EQ(recorder.model->state(), RecorderState::idle());
    test::runEvents(2500);
    EXPECT_EQ(recorder.model->state(), RecorderState::idle());
    EXPECT_EQ(takeFolders(recorder.library.root()), QString());
}

TEST(RecorderModel, RecordingBecomesATakeOfTheTickedInputs) {
    Recorder recorder(0, 3);
    QSignalSpy camera(recorder.model.get(), &RecorderModel::configuredCameraIDChanged);
    QSignalSpy microphone(recorder.model.get(), &RecorderModel::configuredMicIDChanged);
    QSignalSpy folder(recorder.model.get(), &RecorderModel::recordingFolderChanged);
    const std::vector<ChannelMix> mix{{true, -6, 0}, {true, 3, 0}, {true, 0, 0.5}};
    UserSettings::setChannelMix(testMicrophoneId(), mix);
    recorder.activate(3);
    EXPECT_EQ(recorder.model->channels(), mix) << "the mix stored for the microphone";
    EXPECT_EQ(recorder.model->configuredMicID(), testMicrophoneId());
    EXPECT_TRUE(recorder.model->configuredCameraID());
    EXPECT_EQ(camera.count() + microphone.count(), 2);
    EXPECT_EQ(recorder.model->videoInfo(), QStringLiteral("640 × 360 · 30 fps"));
    EXPECT_EQ(recorder.model->clipped(), std::vector<bool>(3, false));
    recorder.model->toggleChannel(1);
    recorder.model->toggleChannel(7); // ignored
    const std::optional<Take> take = recorder.record(1500);
    ASSERT_TRUE(take);
    EXPECT_FALSE(recorder.model->errorMessage());
    EXPECT_TRUE(take->info.name.startsWith(QStringLiteral("Take ")));
    EXPECT_NEAR(take->info.duration, 1.5, 0.25);
    EXPECT_EQ(take->info.cameraName, QStringLiteral("Test Camera"));
    EXPECT_EQ(take->info.audioDeviceName, QStringLiteral("Test Microphone"));
    ASSERT_EQ(take->info.tracks.size(), 2u);
    EXPECT_EQ(take->info.tracks[1].source, Track::Source::input(2));
    EXPECT_EQ(take->info.master, (MasterSettings{0, true}));
    EXPECT_EQ(probeMovie(take->moviePath()).audio.at(0).channelCount, 3);
    EXPECT_FALSE(QFileInfo::exists(take->folder + QStringLiteral("/recording.json")));
    ASSERT_EQ(recorder.library.takes().size(), 1u);
    EXPECT_EQ(recorder.library.takes()[0], *take);

    // The mix is remembered for this microphone.
    std::vector<ChannelMix> unticked = mix;
    unticked[1].enabled = false;
    EXPECT_EQ(UserSettings::channelMix(testMicrophoneId()), unticked);

    // The recording's folder was shown while it ran; leaving lets the devices go.
    EXPECT_EQ(folder.count(), 2);
    EXPECT_FALSE(recorder.model->recordingFolder());
    recorder.model->deactivate();
    EXPECT_FALSE(recorder.model->configuredCameraID());
    EXPECT_EQ(camera.count() + microphone.count(), 4);
}

TEST(CameraPreview, FitsTheFrameIntoTheViewKeepingItsAspectInEvenPixels) {
    const struct {
        QSize frame, target, fitted;
    } cases[] = {
        {{1920, 1080}, {1920, 1080}, {1920, 1080}},
        {{1920, 1080}, {1001, 2000}, {1000, 562}},
        {{640, 480}, {1600, 600}, {800, 600}},
        {{1920, 1080}, {0, 0}, {}},
        {{1920, 1080}, {1, 1}, {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CameraPreview::fittedSize(c.frame, c.target), c.fitted)
            << c.target.width() << "x" << c.target.height();
}

// The preview converts pictures only while a view asks for them.
TEST(RecorderModel, WithoutMicrophoneTheTakeHasPicturesOnlyAndThePreviewShowsThem) {
    Recorder recorder(0, 2, false);
    recorder.activate(0);
    EXPECT_TRUE(recorder.model->levels().empty());
    CameraPreview& preview = recorder.model->cameraPreview();
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

    const std::optional<Take> take = recorder.record(1000);
    ASSERT_TRUE(take);
    EXPECT_TRUE(take->info.tracks.empty());
    EXPECT_FALSE(take->info.audioDeviceName);
}

namespace {

// `record` into `root` for at most `seconds`, at once, at 640 × 360 unless `fullSize`.
QStringList recordArguments(const QString& root, int seconds, bool fullSize = false) {
    QStringList arguments{
        QStringLiteral("record"),      QStringLiteral("--root"), root,
        QStringLiteral("--countdown"), QStringLiteral("0"),      QStringLiteral("--seconds"),
        QString::number(seconds)};
    if (!fullSize)
        arguments << QStringLiteral("--size") << QStringLiteral("640x360");
    return arguments;
}

// Starts reelbox-cli `args` through bash, which runs `limits` first and ignores SIGXFSZ, so a
// write past a file size limit fails as on a full disk.
void startCli(QProcess& process, const QString& limits, const QStringList& args) {
    process.start(QStringLiteral("/bin/bash"),
                  QStringList{QStringLiteral("-c"), limits + u"trap '' XFSZ; exec \"$0\" \"$@\""_qs,
                              QStringLiteral(REELBOX_CLI)} +
                      args);
}

// Limits the size of every file the process writes, as on a disk that just filled up (no
// tmpfs can be mounted without root).
void fillDisk(qint64 pid, qint64 bytes) {
    struct rlimit limit {};
    ASSERT_EQ(prlimit(pid_t(pid), RLIMIT_FSIZE, nullptr, &limit), 0);
    limit.rlim_cur = rlim_t(bytes);
    ASSERT_EQ(prlimit(pid_t(pid), RLIMIT_FSIZE, &limit, nullptr), 0);
}

} // namespace

// A signal to stop finishes the take, a disk that fills stops it with the reason; killed
// outright, `recover` turns what it left into a take holding all but the last second.
TEST(RecordCommand, ATakeOutlivesHowTheRecordingProcessEnds) {
    enum class Disk { roomy, fillsAt2MB, fillsAtTheSignal };
    const struct {
        const char* name;
        int signal; // 0: none
        int afterMs;
        bool fullSize; // 1920 × 1080: the encoder barely open when killed early
        Disk disk = Disk::roomy;
    } cases[] = {
        {"killed soon after the start", SIGKILL, 1500, true},
        {"killed, small pictures", SIGKILL, 2600, false},
        {"terminated", SIGTERM, 1500, false},
        {"hung up (a closed terminal)", SIGHUP, 1500, false},
        {"a full disk", 0, 0, false, Disk::fillsAt2MB},
        {"a disk that fills as the take is finished", SIGTERM, 2500, false, Disk::fillsAtTheSignal},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TemporaryHome home;
        const QString root = home.filePath(QStringLiteral("Takes"));
        QProcess recording;
        startCli(recording, {}, recordArguments(root, c.signal ? 60 : 30, c.fullSize));
        ASSERT_TRUE(recording.waitForStarted());
        if (c.disk == Disk::fillsAt2MB) {
            ASSERT_NO_FATAL_FAILURE(fillDisk(recording.processId(), 2'048'000));
        }
        recording.setReadChannel(QProcess::StandardError);
        QByteArray errors;
        while (!errors.contains("recording\n") && recording.waitForReadyRead(5000))
            errors += recording.readAllStandardError();
        ASSERT_TRUE(errors.contains("recording\n")) << errors.constData();
        const auto started = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(c.afterMs));
        if (c.disk == Disk::fillsAtTheSignal) {
            const QString movie =
                QDir(root).filePath(takeFolders(root) + QStringLiteral("/take.mov"));
            ASSERT_GT(QFileInfo(movie).size(), 10000);
            ASSERT_NO_FATAL_FAILURE(fillDisk(recording.processId(), QFileInfo(movie).size()));
        }
        if (c.signal)
            ::kill(pid_t(recording.processId()), c.signal);
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        ASSERT_TRUE(recording.waitForFinished(25000)) << "the recording went on";
        errors += recording.readAllStandardError();
        if (c.signal != SIGKILL) {
            const bool full = c.disk != Disk::roomy;
            EXPECT_EQ(recording.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(recording.exitCode(), full ? 1 : 0) << errors.constData();
            EXPECT_EQ(errors.contains("Recording failed: "), full) << errors.constData();
            const TakeLibrary library(root);
            ASSERT_EQ(library.takes().size(), 1u) << errors.constData();
            const Take& take = library.takes()[0];
            EXPECT_GT(take.info.duration, 1.0);
            EXPECT_GT(probeMovie(take.moviePath()).audio.at(0).durationSeconds, 1.0);
            EXPECT_FALSE(QFileInfo::exists(RecordingRecovery::recordPath(take.folder)));
            continue;
        }

        const QStringList recover{QStringLiteral("recover"), QStringLiteral("--root"), root};
        if (!c.fullSize) {
            // With no room for take.json, `recover` fails naming the take and keeps its record.
            const QString name = takeFolders(root);
            QProcess cramped;
            startCli(cramped, QStringLiteral("ulimit -f 1; "), recover);
            ASSERT_TRUE(cramped.waitForFinished(30000));
            const QString said = QString::fromUtf8(cramped.readAllStandardError());
            EXPECT_EQ(cramped.exitCode(), 1) << said.toStdString();
            EXPECT_TRUE(said.contains(name)) << said.toStdString();
            EXPECT_FALSE(said.contains(QStringLiteral("lock file"))) << said.toStdString();
            EXPECT_TRUE(
                QFileInfo::exists(RecordingRecovery::recordPath(QDir(root).filePath(name))));
        }
        const test::CliResult recovered = test::runCli(recover);
        EXPECT_EQ(recovered.status, 0) << recovered.err.toStdString();
        EXPECT_FALSE(recovered.err.contains(QStringLiteral("lock file")));
        const QString folder = recovered.out.trimmed();
        ASSERT_FALSE(folder.isEmpty());
        const std::optional<Take> take = TakeLibrary::readTake(folder);
        ASSERT_TRUE(take);
        EXPECT_TRUE(take->info.name.endsWith(QStringLiteral(" (recovered)")));
        EXPECT_EQ(take->info.tracks.size(), 2u);
        const MovieInfo info = probeMovie(take->moviePath());
        ASSERT_EQ(info.audio.size(), 1u);
        EXPECT_GE(info.audio[0].durationSeconds, elapsed - 1.0);
        std::printf("killed %.2f s after the start: %.2f s of sound, %.2f s of picture kept\n",
                    elapsed, info.audio[0].durationSeconds, info.video.at(0).durationSeconds);
        EXPECT_EQ(test::cliOutput(recover), QString()) << "nothing is left to recover";
        if (c.fullSize) {
            // On a busy machine the picture reaches the disk later than the sound.
            EXPECT_GT(info.video.at(0).durationSeconds, 0);
            continue;
        }
        // Less the fragment still open: the take ends where both its picture and its sound do.
        EXPECT_GE(take->info.duration, elapsed - 1.0);
        EXPECT_NEAR(take->info.duration,
                    std::min(info.video.at(0).durationSeconds, info.audio[0].durationSeconds),
                    1e-6);
        const QString out = home.filePath(QStringLiteral("out.mp4"));
        test::cliOutput({QStringLiteral("export"), folder, out});
        EXPECT_GE(probeMovie(out).durationSeconds, elapsed - 1.0);
    }
}

TEST(RecordCommand, WrongCallsAndFailuresEndAtOnceAndChangeNoSetting) {
    test::TemporaryHome home;
    const QString root = home.filePath(QStringLiteral("Takes"));
    const QString file = home.filePath(QStringLiteral("a file"));
    test::writeFile(file, "not a folder");
    UserSettings::setMicrophoneID(testMicrophoneId());
    UserSettings::setCountdownSeconds(5);
    const auto record = [&](const QString& into, const QStringList& more) {
        return recordArguments(into, 1) + more;
    };
    const struct {
        QStringList args;
        int status;
        const char* says;
    } calls[] = {
        {record(root, {QStringLiteral("--microphone"), QStringLiteral("TYPO")}), 1,
         "There is no microphone \"TYPO\"."},
        {record(root, {QStringLiteral("--camera"), QStringLiteral("TYPO")}), 1,
         "There is no camera \"TYPO\"."},
        {record(root, {QStringLiteral("--inputs"), QStringLiteral("2,-1")}), 2, "--inputs"},
        {record(root, {QStringLiteral("--inputs"), QStringLiteral("9")}), 2, "--inputs"},
        {record(file + QStringLiteral("/Takes"), {}), 1, "reelbox-cli: "},
        {record(root, {}), 0, ""},
    };
    for (const auto& call : calls) {
        const test::CliResult result = test::runCli(call.args);
        EXPECT_EQ(result.status, call.status) << call.args.join(u' ').toStdString() << "\n"
                                              << result.err.toStdString();
        EXPECT_TRUE(result.err.contains(QString::fromUtf8(call.says))) << result.err.toStdString();
    }
    EXPECT_EQ(UserSettings::microphoneID(), testMicrophoneId());
    EXPECT_EQ(UserSettings::countdownSeconds(), 5);
    EXPECT_EQ(TakeLibrary(root).takes().size(), 1u);
}

TEST(RecorderModel, AMicrophoneUnpluggedWhileRecordingStopsAndKeepsTheTake) {
    test::PrivatePipeWire daemon;
    daemon.addNullNode(QStringLiteral("reelbox-unplugged"), QStringLiteral("Unplugged Mic"),
                       QStringLiteral("Audio/Source/Virtual"), 3);
    Recorder recorder(0, 2);
    DeviceManager& devices = recorder.services->devices();
    devices.setMicrophoneID(QStringLiteral("reelbox-unplugged"));
    UserSettings::setChannelMix(QStringLiteral("reelbox-unplugged"),
                                {{false, -6, 0}, {true, 3, 0}});
    recorder.activate(3); // as many as the server says
    EXPECT_EQ(recorder.model->channels(), std::vector<ChannelMix>(3, ChannelMix{true, 0, 0}))
        << "a mix stored for another channel count is not used";
    ASSERT_EQ(recorder.model->configuredMicID(), QStringLiteral("reelbox-unplugged"));
    const std::optional<Take>& take = recorder.finished;
    recorder.model->toggleRecording(recorder.library);
    test::runEvents(1500);
    daemon.removeNode(QStringLiteral("reelbox-unplugged"));
    ASSERT_TRUE(test::waitFor([&] { return take.has_value(); }, 10000))
        << recorder.model->errorMessage().value_or(QString()).toStdString();
    EXPECT_TRUE(
        test::waitFor([&] { return recorder.model->state() == RecorderState::idle(); }, 1000));
    EXPECT_EQ(recorder.model->errorMessage(),
              QStringLiteral("Recording failed: Unplugged Mic was disconnected."));
    EXPECT_GT(take->info.duration, 1.0);
    EXPECT_EQ(recorder.library.takes().size(), 1u);
    EXPECT_EQ(probeMovie(take->moviePath()).audio.at(0).channelCount, 3);
    // The device list heard of it too, and let the choice go.
    EXPECT_TRUE(test::waitFor(
        [&] { return devices.microphoneID() != QStringLiteral("reelbox-unplugged"); }, 3000));
}
