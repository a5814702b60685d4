#include "capture/OverdubModel.h"
#include "capture/CaptureServices.h"
#include "capture/SyntheticTake.h"
#include "edit/TakeEditorModel.h"
#include "model/TakeLibrary.h"
#include "model/UserSettings.h"
#include "model/UuidString.h"
#include "platform/media/AudioReader.h"
#include "platform/sound/SoundDevice.h"
#include "platform/sound/SoundSystem.h"
#include "play/Player.h"
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

// A synthetic take opened in an editor, with an overdub model on the virtual devices.
struct Overdubbing {
    test::TemporaryHome home;
    test::ScopedEnvironment tmp{"TMPDIR", QFile::encodeName(home.path())};
    TakeLibrary library{home.filePath(QStringLiteral("Takes"))};
    Take take;
    std::unique_ptr<CaptureServices> services; // made once the application is
    std::unique_ptr<TakeEditorModel> editor;
    std::unique_ptr<OverdubModel> model;

    explicit Overdubbing(const SyntheticTakeOptions& options, const EditState& edit = {}) {
        test::ensureApplication();
        userDefaults().clear();
        take = makeSyntheticTake(library, options);
        take.info.edit = edit;
        services = std::make_unique<CaptureServices>();
        editor = std::make_unique<TakeEditorModel>(take, &library, services->sound());
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
        model = std::make_unique<OverdubModel>(*editor, services->devices(), services->sound());
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
    return {.seconds = seconds,
            .size = QSize(320, 180),
            .overdubs = overdubs,
            .audioOnlyOverdubs = true};
}

// The onsets of the test clicks in one channel of a movie, in seconds of the file.
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

// What one overdub screen chose, the next one (and the recorder, for the mirror) starts with.
TEST(OverdubModel, ChoicesAreRememberedAndAGoneOutputIsForgotten) {
    Overdubbing o(smallTake(2));
    UserSettings::setOverdubOutput(QStringLiteral("alsa_output.unplugged"));
    userDefaults().setValue(QStringLiteral("overdubVideo"), QStringLiteral("false"));
    o.makeModel();
    EXPECT_EQ(o.model->outputID(), std::nullopt);
    EXPECT_EQ(UserSettings::overdubOutput(), std::nullopt);
    EXPECT_FALSE(o.model->recordVideo());
    EXPECT_TRUE(o.model->mirrorPreview());

    o.model->setRecordVideo(true);
    o.model->setMirrorPreview(false);
    o.model->setOutputID(testOutputId());
    o.makeModel();
    EXPECT_EQ(o.model->outputID(), testOutputId());
    EXPECT_TRUE(o.model->recordVideo());
    EXPECT_FALSE(o.model->mirrorPreview());
    EXPECT_FALSE(RecorderModel(o.services->devices(), o.services->sound()).mirrorPreview());
}

// A view connected to the player keeps getting pictures when the output changes.
TEST(OverdubModel, OnePlayerForLifePlaysThroughAnOutputPluggedInLater) {
    test::PrivatePipeWire daemon;
    Overdubbing o(smallTake(2));
    o.makeModel();
    Player* player = &o.model->player();
    o.activate(2);
    int pictures = 0;
    QObject::connect(player, &Player::framePresented, [&] { ++pictures; });
    // Sinks and duplex nodes in the server's order, the virtual output last; no source.
    daemon.addNullNode(u"reelbox-in"_qs, u"In"_qs, u"Audio/Source/Virtual"_qs, 2);
    daemon.addNullNode(u"reelbox-out"_qs, u"Out"_qs, u"Audio/Sink"_qs, 2);
    daemon.addNullNode(u"reelbox-sink-later"_qs, u"Later Out"_qs, u"Audio/Duplex"_qs, 2);
    const std::vector<AudioOutputDevice> outputs{{u"reelbox-out"_qs, u"Out"_qs},
                                                 {u"reelbox-sink-later"_qs, u"Later Out"_qs},
                                                 {testOutputId(), testOutputName()}};
    ASSERT_TRUE(test::waitFor([&] { return o.model->outputs() == outputs; }, 5000));

    o.model->setOutputID(u"reelbox-sink-later"_qs);
    EXPECT_EQ(&o.model->player(), player);
    ASSERT_TRUE(test::waitFor([&] { return pictures > 0; }, 5000)) << "the view went dark";
    EXPECT_EQ(o.model->outputProblem(), QString());
}

// The Test Output comes back on the Test Microphone's last channel 37 ms late: with the nudge
// calibration stores, the overdub's clicks fall on the take's.
TEST(OverdubModel, RecordingsBecomeOverdubsWithTheTickedInputsAndTheStoredNudge) {
    test::ScopedEnvironment channels("REELBOX_TEST_MIC_CHANNELS", "3");
    test::ScopedEnvironment loopback("REELBOX_TEST_LOOPBACK_MS", "37");
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
    UserSettings::setOverdubNudge(testMicrophoneId(), -0.037);
    o.model->toggleChannel(0);
    o.model->toggleChannel(2);
    o.model->setRecordVideo(true);
    ASSERT_TRUE(test::waitFor([&] { return o.model->configuredCameraID().has_value(); }, 5000));
    o.model->setStartTime(1.5);
    const std::optional<Overdub> fourth = o.record(1800);
    ASSERT_TRUE(fourth);
    EXPECT_EQ(fourth->nudge, -0.037);
    EXPECT_TRUE(fourth->hasVideo);
    const std::vector<double> takeClicks = clickTimes(o.take.moviePath(), 0);
    const std::vector<double> heard =
        clickTimes(QDir(o.take.overdubsFolder()).filePath(fourth->fileName), 2);
    ASSERT_GE(heard.size(), 2u); // the clicks at 2 s and 3 s
    for (const double t : heard) {
        double off = 1e9;
        for (const double c : takeClicks)
            off = std::min(off, std::fabs(fourth->placedStart() + t - c));
        EXPECT_LT(off, 0.001) << "the click heard at " << t << " s of the overdub";
    }

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
}

TEST(OverdubModel, FailuresRecordNothingAndSayWhy) {
    Overdubbing o(smallTake(3));
    o.makeModel();
    o.model->setRecordVideo(false);
    o.activate(2);

    // The overdubs folder can't be made: the recording stays in the temporary folder.
    test::writeFile(o.take.overdubsFolder(), "in the way");
    EXPECT_FALSE(o.record(300));
    ASSERT_TRUE(o.model->errorMessage());
    EXPECT_TRUE(o.model->errorMessage()->contains(o.take.overdubsFolder()));
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

// Two `overdub` processes with one temporary folder: both kept, none of their options stored.
TEST(OverdubCommand, TwoOverdubsAtOnceAreBothKept) {
    test::TemporaryHome home;
    test::ensureApplication();
    TakeLibrary library(home.filePath(QStringLiteral("Takes")));
    const Take takes[] = {makeSyntheticTake(library, smallTake(4)),
                          makeSyntheticTake(library, smallTake(4))};
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), home.path());
    // The settings the commands read (their XDG_CONFIG_HOME), not this process's first ones.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.filePath(u"config"_qs));

    std::vector<std::unique_ptr<QProcess>> runs;
    for (const Take& take : takes) {
        runs.push_back(std::make_unique<QProcess>());
        runs.back()->setProcessEnvironment(env);
        runs.back()->start(QStringLiteral(REELBOX_CLI),
                           {QStringLiteral("overdub"), take.folder, QStringLiteral("--start"),
                            QStringLiteral("1.5"), QStringLiteral("--seconds"), QStringLiteral("2"),
                            QStringLiteral("--sound-only"), QStringLiteral("--countdown"),
                            QStringLiteral("0"), QStringLiteral("--inputs"), QStringLiteral("2"),
                            QStringLiteral("--output"), testOutputId()});
    }
    for (size_t i = 0; i < runs.size(); ++i) {
        ASSERT_TRUE(runs[i]->waitForFinished(60000));
        EXPECT_EQ(runs[i]->exitCode(), 0) << runs[i]->readAllStandardError().toStdString();
        const QStringList lines =
            QString::fromUtf8(runs[i]->readAllStandardOutput()).trimmed().split(u'\n');
        ASSERT_EQ(lines.size(), 2);
        const QJsonObject printed = QJsonDocument::fromJson(lines[1].toUtf8()).object();
        EXPECT_EQ(printed[u"tracks"].toArray(), QJsonArray{QStringLiteral("Overdub 1")});
        const std::optional<Take> saved = TakeLibrary::readTake(takes[i].folder);
        ASSERT_TRUE(saved);
        ASSERT_EQ(saved->info.overdubs.size(), 1u) << takes[i].folder.toStdString();
        const Overdub& overdub = saved->info.overdubs[0];
        EXPECT_EQ(uuidString(overdub.id), lines[0]);
        EXPECT_NEAR(overdub.start, printed[u"start"].toDouble(), 1e-6);
        EXPECT_GT(overdub.duration, 1.5);
    }
    EXPECT_TRUE(UserSettings::overdubVideo());
    EXPECT_EQ(UserSettings::countdownSeconds(), 3);
    EXPECT_EQ(UserSettings::overdubOutput(), std::nullopt);
}
