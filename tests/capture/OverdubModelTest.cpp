#include "capture/OverdubModel.h"
#include "capture/LatencyCalibration.h"
#include "capture/SyntheticTake.h"
#include "edit/TakeEditorModel.h"
#include "model/TakeLibrary.h"
#include "model/UserSettings.h"
#include "model/UuidString.h"
#include "platform/media/AudioReader.h"
#include "platform/sound/SoundDevice.h"
#include "platform/sound/SoundSystem.h"
#include "play/Player.h"
#include "support/CliRun.h"
#include "support/PrivatePipeWire.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <cmath>

using namespace reelbox;

namespace {

QSettings userDefaults() {
    return QSettings(QStringLiteral("Reelbox"), QStringLiteral("Reelbox"));
}

// A synthetic take opened in an editor, with an overdub model on the virtual devices; the
// settings and the temporary folder inside a temporary home.
struct Overdubbing {
    test::TemporaryHome home;
    test::ScopedEnvironment tmp{"TMPDIR", QFile::encodeName(home.path())};
    TakeLibrary library{home.filePath(QStringLiteral("Takes"))};
    Take take;
    std::unique_ptr<SoundSystem> sound; // made once the application is
    std::unique_ptr<TakeEditorModel> editor;
    std::unique_ptr<DeviceManager> devices;
    std::unique_ptr<OverdubModel> model;

    explicit Overdubbing(const SyntheticTakeOptions& options, const EditState& edit = {}) {
        test::ensureApplication();
        userDefaults().clear();
        take = makeSyntheticTake(library, options);
        take.info.edit = edit;
        sound = std::make_unique<SoundSystem>();
        devices = std::make_unique<DeviceManager>(*sound);
        editor = std::make_unique<TakeEditorModel>(take, &library, *sound);
        EXPECT_TRUE(test::waitFor([&] { return editor->sourceDuration() > 0; }, 10000));
    }
    ~Overdubbing() {
        if (model)
            model->deactivate();
        model.reset();
        editor->tearDown();
        userDefaults().clear();
    }

    void makeModel() {
        model = std::make_unique<OverdubModel>(*editor, *devices, *sound);
        model->setPreferredVideoSize(QSize(640, 360));
    }

    // Activated on the Test Output, the monitor mix cued and the meters read once.
    void activate(size_t channels) {
        model->setOutputID(testOutputId());
        bool cued = false;
        model->activate([&] { cued = true; });
        ASSERT_TRUE(
            test::waitFor([&] { return cued && model->channels().size() == channels; }, 15000));
        ASSERT_FALSE(model->errorMessage()) << model->errorMessage()->toStdString();
    }

    // Records about `ms` of the take after the scheduled start; the overdub, when one was added.
    std::optional<Overdub> record(int ms) {
        std::optional<Overdub> added;
        bool ended = false;
        QObject scope; // the connection ends with this call
        QObject::connect(model.get(), &OverdubModel::recordingEnded, &scope,
                         [&](bool ok, const Overdub& overdub) {
                             ended = true;
                             if (ok)
                                 added = overdub;
                         });
        userDefaults().setValue(QStringLiteral("countdown"), 0);
        model->toggleRecording();
        EXPECT_TRUE(test::waitFor(
            [&] { return model->state().kind == RecorderState::Kind::recording; }, 8000));
        test::runEvents(300 + ms);
        model->toggleRecording();
        EXPECT_EQ(model->state().kind, RecorderState::Kind::finishing);
        EXPECT_TRUE(test::waitFor([&] { return ended; }, 10000));
        EXPECT_EQ(model->state(), RecorderState::idle());
        return added;
    }
};

SyntheticTakeOptions smallTake(double seconds, int overdubs = 0) {
    SyntheticTakeOptions options;
    options.seconds = seconds;
    options.size = QSize(320, 180);
    options.overdubs = overdubs;
    options.audioOnlyOverdubs = true;
    return options;
}

// The onsets of the test clicks in one channel of a movie, in seconds of the file: the sample
// where the signal first jumps by half the largest jump, at most one a half second.
std::vector<double> clickTimes(const QString& movie, int channel) {
    AudioReader reader(movie);
    const int channels = reader.channelCount();
    std::vector<float> x;
    double first = -1;
    AudioBuffer buffer;
    while (reader.read(buffer)) {
        if (first < 0)
            first = buffer.ptsSeconds;
        for (qint64 i = 0; i < buffer.frames; ++i)
            x.push_back(buffer.samples[size_t(i * channels + channel)]);
    }
    float largest = 0;
    for (size_t i = 1; i < x.size(); ++i)
        largest = std::max(largest, std::fabs(x[i] - x[i - 1]));
    std::vector<double> onsets;
    for (size_t i = 1; i < x.size(); ++i)
        if (std::fabs(x[i] - x[i - 1]) > largest / 2 && largest > 0.2f) {
            onsets.push_back(std::max(0.0, first) + double(i - 1) / AudioReader::sampleRate);
            i += AudioReader::sampleRate / 2;
        }
    return onsets;
}

// For each click the overdub heard, its distance from the nearest click of the take, placed
// at `placedStart` on the take's time line.
std::vector<double> clickErrors(const Take& take, const Overdub& overdub, double placedStart,
                                int channel) {
    const std::vector<double> takeClicks = clickTimes(take.moviePath(), 0);
    const std::vector<double> heard =
        clickTimes(QDir(take.overdubsFolder()).filePath(overdub.fileName), channel);
    std::vector<double> errors;
    for (const double t : heard) {
        double best = 1e9;
        for (const double c : takeClicks)
            if (std::fabs(placedStart + t - c) < std::fabs(best))
                best = placedStart + t - c;
        errors.push_back(best);
    }
    return errors;
}

} // namespace

TEST(OverdubModel, StartTimeFollowsThePlayheadInsideTheStartRange) {
    const struct {
        double inPoint;
        std::optional<double> outPoint;
        double playhead;
        OverdubModel::Range range;
        double start;
    } cases[] = {
        {0, std::nullopt, 2.0, {0, 3.5}, 2.0},
        {0, std::nullopt, 3.8, {0, 3.5}, 0}, // at the end: the in point
        {1.0, std::nullopt, 0.4, {1.0, 3.5}, 1.0},
        {1.0, 1.05, 0.3, {1.0, 1.1}, 1.0}, // a short take still has 0.1 s to start from
        {0.5, 3.0, 2.4, {0.5, 2.5}, 2.4},
    };
    for (const auto& c : cases) {
        EditState edit;
        edit.inPoint = c.inPoint;
        edit.outPoint = c.outPoint;
        Overdubbing o(smallTake(4), edit);
        o.editor->seek(c.playhead);
        o.makeModel();
        const OverdubModel::Range range = o.model->startRange();
        EXPECT_NEAR(range.lower, c.range.lower, 1e-3) << c.playhead;
        EXPECT_NEAR(range.upper, c.range.upper, 2e-2) << c.playhead;
        EXPECT_NEAR(o.model->startTime(), c.start, 1e-9) << c.playhead;
    }
}

TEST(OverdubModel, SettingsAreReadAndWrittenAndAGoneOutputIsForgotten) {
    Overdubbing o(smallTake(2));
    const struct {
        QVariant storedOutput;
        QVariant storedVideo;
        std::optional<QString> output;
        bool video;
    } cases[] = {
        {QStringLiteral("alsa_output.unplugged"), QVariant(), std::nullopt, true},
        {testOutputId(), false, testOutputId(), false},
        {QVariant(), QStringLiteral("true"), std::nullopt, true},
    };
    for (const auto& c : cases) {
        QSettings settings = userDefaults();
        settings.clear();
        if (c.storedOutput.isValid())
            settings.setValue(QStringLiteral("overdubOutput"), c.storedOutput);
        if (c.storedVideo.isValid())
            settings.setValue(QStringLiteral("overdubVideo"), c.storedVideo);
        settings.sync();
        o.makeModel();
        EXPECT_EQ(o.model->outputID(), c.output);
        EXPECT_EQ(o.model->recordVideo(), c.video);
        EXPECT_EQ(userDefaults().value(QStringLiteral("overdubOutput")).isValid(),
                  c.output.has_value());
    }

    QSignalSpy video(o.model.get(), &OverdubModel::recordVideoChanged);
    QSignalSpy mirror(o.model.get(), &OverdubModel::mirrorPreviewChanged);
    o.model->setRecordVideo(true); // equal: stored, nothing emitted
    EXPECT_EQ(video.count(), 0);
    o.model->setRecordVideo(false);
    o.model->setMirrorPreview(false);
    o.model->setMirrorPreview(false);
    EXPECT_EQ(video.count(), 1);
    EXPECT_EQ(mirror.count(), 1);
    EXPECT_EQ(userDefaults().value(QStringLiteral("mirrorPreview")).toBool(), false);
    EXPECT_EQ(userDefaults().value(QStringLiteral("overdubVideo")).toBool(), false);
}

// A view connected to the player keeps getting pictures when the output changes; the outputs
// listed follow the sound server while the screen is open.
TEST(OverdubModel, OnePlayerForLifeAndOutputsFollowTheDevices) {
    test::PrivatePipeWire daemon;
    Overdubbing o(smallTake(2));
    o.makeModel();
    Player* player = &o.model->player();
    o.activate(2);
    int pictures = 0;
    QObject::connect(player, &Player::framePresented, [&] { ++pictures; });
    const auto listed = [&](const QString& id) {
        const std::vector<AudioOutputDevice>& outputs = o.model->outputs();
        return std::any_of(outputs.begin(), outputs.end(),
                           [&](const AudioOutputDevice& d) { return d.id == id; });
    };
    QSignalSpy outputs(o.model.get(), &OverdubModel::outputsChanged);
    daemon.addNullNode(u"reelbox-sink-later"_qs, u"Later Out"_qs, u"Audio/Sink"_qs, 2);
    ASSERT_TRUE(test::waitFor([&] { return listed(u"reelbox-sink-later"_qs); }, 5000));
    EXPECT_GE(outputs.count(), 1);

    o.model->setOutputID(u"reelbox-sink-later"_qs);
    EXPECT_EQ(&o.model->player(), player);
    ASSERT_TRUE(test::waitFor([&] { return pictures > 0; }, 5000)) << "the view went dark";
    EXPECT_EQ(o.model->outputProblem(), QString());

    daemon.removeNode(u"reelbox-sink-later"_qs);
    EXPECT_TRUE(test::waitFor([&] { return !listed(u"reelbox-sink-later"_qs); }, 5000));
}

TEST(OverdubModel, RecordingsBecomeOverdubsWithTheTickedInputsAndTheStoredNudge) {
    test::ScopedEnvironment channels("REELBOX_TEST_MIC_CHANNELS", "3");
    Overdubbing o(smallTake(4, 2)); // two overdubs already
    o.makeModel();
    o.model->setRecordVideo(false);
    o.activate(3);
    EXPECT_EQ(o.model->configuredCameraID(), std::nullopt);

    // Every input unticked: channel 0 alone, no nudge stored.
    for (int c = 0; c < 3; ++c)
        o.model->toggleChannel(c);
    o.model->setStartTime(1.0);
    const std::optional<Overdub> third = o.record(600);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->nudge, 0);
    EXPECT_FALSE(third->hasVideo);
    EXPECT_EQ(third->audioDeviceID, testMicrophoneId());
    EXPECT_TRUE(QFile::exists(QDir(o.take.overdubsFolder()).filePath(third->fileName)));
    EXPECT_EQ(third->fileName, uuidString(third->id) + QStringLiteral(".mov"));
    EXPECT_FALSE(
        QFile::exists(QDir(o.home.path()).filePath(QStringLiteral("Reelbox-overdub.mov"))));
    // Placed by the first sample: the capture began about the 0.3 s lead before the start.
    EXPECT_NEAR(third->start, 1.0 - 0.3, 0.1);
    EXPECT_NEAR(third->duration, 0.9, 0.2);

    // Inputs 1 and 3 with a nudge stored for the microphone; the camera on again.
    UserSettings::setOverdubNudge(testMicrophoneId(), -0.04);
    o.model->toggleChannel(0);
    o.model->toggleChannel(2);
    o.model->setRecordVideo(true);
    ASSERT_TRUE(test::waitFor([&] { return o.model->configuredCameraID().has_value(); }, 5000));
    const std::optional<Overdub> fourth = o.record(600);
    ASSERT_TRUE(fourth);
    EXPECT_EQ(fourth->nudge, -0.04);
    EXPECT_TRUE(fourth->hasVideo);

    const auto tracksOf = [&](const Overdub& overdub) {
        std::vector<std::pair<QString, Track::Source>> tracks;
        for (const Track& t : o.editor->take().info.tracks)
            if (t.source.isOverdub(overdub.id))
                tracks.emplace_back(t.name, t.source);
        return tracks;
    };
    using Tracks = std::vector<std::pair<QString, Track::Source>>;
    EXPECT_EQ(tracksOf(*third),
              (Tracks{{QStringLiteral("Overdub 3"), Track::Source::overdub(third->id, 0)}}));
    EXPECT_EQ(tracksOf(*fourth),
              (Tracks{{QStringLiteral("Overdub 4 · 1"), Track::Source::overdub(fourth->id, 0)},
                      {QStringLiteral("Overdub 4 · 3"), Track::Source::overdub(fourth->id, 2)}}));
    // Saved with the take.
    const std::optional<Take> saved = TakeLibrary::readTake(o.take.folder);
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->info.overdubs.size(), 4u);
    EXPECT_EQ(saved->info.overdubs[3].id, fourth->id);
    EXPECT_EQ(saved->info.overdubs[3].nudge, fourth->nudge);
}

TEST(OverdubModel, FailuresRecordNothingAndSayWhy) {
    Overdubbing o(smallTake(3));
    o.makeModel();
    o.model->setRecordVideo(false);
    o.activate(2);

    // The countdown cancelled by the record action.
    userDefaults().setValue(QStringLiteral("countdown"), 3);
    o.model->toggleRecording();
    EXPECT_EQ(o.model->state(), RecorderState::countdown(3));
    ASSERT_TRUE(
        test::waitFor([&] { return o.model->state() == RecorderState::countdown(2); }, 3000));
    o.model->toggleRecording();
    EXPECT_EQ(o.model->state(), RecorderState::idle());
    test::runEvents(2200);
    EXPECT_EQ(o.model->state(), RecorderState::idle());
    EXPECT_FALSE(o.model->errorMessage());

    // The overdubs folder can't be made: the recording stays in the temporary folder.
    test::writeFile(o.take.overdubsFolder(), "in the way");
    EXPECT_FALSE(o.record(300));
    ASSERT_TRUE(o.model->errorMessage());
    EXPECT_TRUE(o.model->errorMessage()->contains(o.take.overdubsFolder()));
    // It stays in the temporary folder, under a name of its own.
    const QString kept = o.model->lastResult().url;
    EXPECT_TRUE(QFileInfo(kept).fileName().startsWith(QStringLiteral("Reelbox-overdub-")));
    EXPECT_EQ(QFileInfo(kept).absolutePath(), QDir(o.home.path()).absolutePath());
    EXPECT_TRUE(QFile::exists(kept));
    EXPECT_TRUE(o.editor->take().info.overdubs.empty());
    EXPECT_TRUE(TakeLibrary::readTake(o.take.folder)->info.overdubs.empty());
    o.model->clearErrorMessage();

    // No item in the player: after about 5 s of looking, nothing starts.
    o.model->deactivate();
    userDefaults().setValue(QStringLiteral("countdown"), 0);
    const auto asked = std::chrono::steady_clock::now();
    o.model->toggleRecording();
    ASSERT_TRUE(test::waitFor([&] { return o.model->errorMessage().has_value(); }, 8000));
    EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(4800));
    EXPECT_EQ(*o.model->errorMessage(),
              QStringLiteral("The take isn't ready to play yet. Try again in a moment."));
    EXPECT_EQ(o.model->state(), RecorderState::idle());
    EXPECT_TRUE(o.editor->take().info.overdubs.empty());
}

// The take played through the Test Output comes back on the Test Microphone's last channel
// 37 ms later than any device says: with the nudge calibration stores, the overdub's clicks
// fall on the take's.
TEST(OverdubModel, ClicksHeardThroughTheLoopbackLandOnTheTakesClicks) {
    test::ScopedEnvironment loopback("REELBOX_TEST_LOOPBACK_MS", "37");
    Overdubbing o(smallTake(5));
    UserSettings::setOverdubNudge(testMicrophoneId(), -0.037);
    o.makeModel();
    o.model->setRecordVideo(false);
    o.activate(2);
    o.model->setStartTime(1.5);
    const std::optional<Overdub> overdub = o.record(2200);
    ASSERT_TRUE(overdub);
    EXPECT_EQ(overdub->nudge, -0.037);

    const std::vector<double> placed = clickErrors(o.take, *overdub, overdub->placedStart(), 1);
    const std::vector<double> unnudged = clickErrors(o.take, *overdub, overdub->start, 1);
    ASSERT_GE(placed.size(), 2u); // the clicks at 2 s and 3 s
    for (size_t i = 0; i < placed.size(); ++i) {
        EXPECT_LT(std::fabs(placed[i]), 0.001) << "click " << i << " off by " << placed[i];
        EXPECT_NEAR(unnudged[i], 0.037, 0.001) << "click " << i;
    }
    std::printf("overdub click error with the nudge: %+.3f ms, without: %+.3f ms\n",
                placed[0] * 1000, unnudged[0] * 1000);
}

// The same through the command line: calibrate, then overdub from the middle of the take.
TEST(OverdubCommand, CalibratedOverdubHoldsTheTakesClicksInTime) {
    test::TemporaryHome home;
    test::ensureApplication();
    TakeLibrary library(home.filePath(QStringLiteral("Takes")));
    const Take take = makeSyntheticTake(library, smallTake(5));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("REELBOX_TEST_LOOPBACK_MS"), QStringLiteral("37"));
    env.insert(QStringLiteral("TMPDIR"), home.path());
    const auto run = [&](const QStringList& args) {
        return test::cliOutput(args, {env, {}, 15000}).split(u'\n');
    };
    const QStringList calibrated = run({QStringLiteral("calibrate")});
    const QJsonObject trip = QJsonDocument::fromJson(calibrated.last().toUtf8()).object();
    EXPECT_NEAR(trip[u"nudge"].toDouble(), -0.037, 0.0005);

    const QStringList lines = run(
        {QStringLiteral("overdub"), take.folder, QStringLiteral("--start"), QStringLiteral("1.5"),
         QStringLiteral("--seconds"), QStringLiteral("2.2"), QStringLiteral("--sound-only"),
         QStringLiteral("--countdown"), QStringLiteral("0"), QStringLiteral("--inputs"),
         QStringLiteral("2"), QStringLiteral("--output"), testOutputId()});
    ASSERT_EQ(lines.size(), 2);
    const QJsonObject printed = QJsonDocument::fromJson(lines[1].toUtf8()).object();
    EXPECT_EQ(printed[u"tracks"].toArray(), QJsonArray{QStringLiteral("Overdub 1")});
    EXPECT_NEAR(printed[u"nudge"].toDouble(), trip[u"nudge"].toDouble(), 1e-6);

    const std::optional<Take> saved = TakeLibrary::readTake(take.folder);
    ASSERT_TRUE(saved);
    ASSERT_EQ(saved->info.overdubs.size(), 1u);
    const Overdub& overdub = saved->info.overdubs[0];
    EXPECT_EQ(uuidString(overdub.id), lines[0]);
    EXPECT_NEAR(overdub.start, printed[u"start"].toDouble(), 1e-6);
    const std::vector<double> errors = clickErrors(*saved, overdub, overdub.placedStart(), 1);
    ASSERT_GE(errors.size(), 2u);
    for (const double e : errors)
        EXPECT_LT(std::fabs(e), 0.001) << "off by " << e;
    std::printf("overdub command click error after calibrate: %+.3f ms\n", errors[0] * 1000);

    // The options were for that run only: the app remembers none of them.
    const QSettings stored(QStringLiteral("Reelbox"), QStringLiteral("Reelbox"));
    for (const char* key : {"overdubVideo", "countdown", "overdubOutput"})
        EXPECT_FALSE(stored.contains(QString::fromLatin1(key))) << key;
}

// Two overdubs recorded at once (two processes, one temporary folder) both become overdubs.
TEST(OverdubCommand, TwoOverdubsAtOnceAreBothKept) {
    test::TemporaryHome home;
    test::ensureApplication();
    TakeLibrary library(home.filePath(QStringLiteral("Takes")));
    const Take first = makeSyntheticTake(library, smallTake(4));
    const Take second = makeSyntheticTake(library, smallTake(4));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), home.path());
    std::vector<std::unique_ptr<QProcess>> runs;
    for (const Take* take : {&first, &second}) {
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->setProcessEnvironment(env);
        runs.back()->start(QStringLiteral(REELBOX_CLI),
                           {QStringLiteral("overdub"), take->folder, QStringLiteral("--seconds"),
                            QStringLiteral("2"), QStringLiteral("--sound-only"),
                            QStringLiteral("--countdown"), QStringLiteral("0"),
                            QStringLiteral("--output"), testOutputId()});
    }
    for (auto& run : runs) {
        ASSERT_TRUE(run->waitForFinished(60000));
        EXPECT_EQ(run->exitCode(), 0) << run->readAllStandardError().toStdString();
    }
    for (const Take* take : {&first, &second}) {
        const std::optional<Take> saved = TakeLibrary::readTake(take->folder);
        ASSERT_TRUE(saved);
        ASSERT_EQ(saved->info.overdubs.size(), 1u) << take->folder.toStdString();
        EXPECT_GT(saved->info.overdubs[0].duration, 1.5);
    }
}
