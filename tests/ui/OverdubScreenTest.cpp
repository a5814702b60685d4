// The overdub screen: its pure parts as tables, then the screen on the real models and devices.
#include "ui/OverdubScreen.h"
#include "capture/OverdubModel.h"
#include "capture/SyntheticTake.h"
#include "edit/TakeEditorModel.h"
#include "platform/sound/SoundDevice.h"
#include "play/Player.h"
#include "support/PrivatePipeWire.h"
#include "support/TestSupport.h"
#include "ui/CameraView.h"
#include "ui/ListenCard.h"
#include "ui/OverdubBar.h"
#include "ui/OverdubCaptions.h"
#include "ui/PlayerPictureView.h"
#include "ui/ReelboxApp.h"
#include "ui/StartBar.h"
#include "ui/StartScale.h"
#include "ui/UiTestSupport.h"
#include "ui/VideoPane.h"

#include <QAccessible>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace reelbox;
using namespace reelbox::ui;
using Kind = RecorderState::Kind;

TEST(OverdubTables, StartSliderCountsMillisecondsAcrossTheStartRange) {
    const struct {
        StartScale scale;
        int maximum;
        double seconds; // → valueAt
        int value;
        int at; // → secondsAt
        double back;
    } cases[] = {
        {{1.0, 4.5}, 3500, 1.0, 0, 0, 1.0},
        {{1.0, 4.5}, 3500, 2.5, 1500, 1500, 2.5},
        {{1.0, 4.5}, 3500, 0.2, 0, -7, 1.0},               // below the range: its start
        {{1.0, 4.5}, 3500, 9.0, 3500, 99999, 4.5},         // beyond it: its end
        {{1.0, 4.5}, 3500, 1.0004, 0, 3499, 4.499},        // to the nearest millisecond
        {{0.1, 3.4567}, 3357, 3.4567, 3357, 3357, 3.4567}, // the last position is the end
        {{0.1, 3.4567}, 3357, 0.1006, 1, 3356, 3.4560},
        {{2.0, 2.0}, 0, 5.0, 0, 0, 2.0}, // nothing to choose
        {{0.0, 600.0}, 600000, 599.9996, 600000, 123456, 123.456},
    };
    for (const auto& c : cases) {
        const std::string what =
            std::to_string(c.scale.lower) + ".." + std::to_string(c.scale.upper);
        EXPECT_EQ(c.scale.maximum(), c.maximum) << what;
        EXPECT_EQ(c.scale.valueAt(c.seconds), c.value) << what << " at " << c.seconds;
        EXPECT_DOUBLE_EQ(c.scale.secondsAt(c.at), c.back) << what << " at " << c.at;
    }
    EXPECT_EQ((StartScale{1.0, 4.5}.valueAt(std::nan(""))), 0);
    // Every position comes back from the time it stands for.
    const StartScale odd{0.37, 2.9119};
    for (int v = 0; v <= odd.maximum(); ++v)
        ASSERT_EQ(odd.valueAt(odd.secondsAt(v)), v);
}

TEST(OverdubTables, PanesCaptionsAndSubtitles) {
    // The screen test shows the camera's name and "Sound only"; no camera, no name are here.
    EXPECT_EQ(overdubPane(true, false), OverdubPane::noCamera);
    const struct {
        std::optional<QString> name;
        const char* caption;
    } cameras[] = {{std::nullopt, "Camera"}, {QStringLiteral("  "), "Camera"}};
    for (const auto& c : cameras)
        EXPECT_EQ(cameraCaption(c.name), QString::fromUtf8(c.caption));
    const struct {
        RecorderState state;
        const char* subtitle;
    } states[] = {{RecorderState::idle(), ""},
                  {RecorderState::recording(QDateTime::currentDateTime()), "Recording"},
                  {RecorderState::finishing(), "Saving the overdub…"}};
    for (const auto& s : states)
        EXPECT_EQ(overdubSubtitle(s.state), QString::fromUtf8(s.subtitle)) << s.subtitle;
}

namespace {

QSettings userDefaults() {
    return QSettings(QStringLiteral("Reelbox"), QStringLiteral("Reelbox"));
}

// A four-second take overdubbed on the screen (the Test Output heard by the Test Microphone).
class OverdubScreenTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (model && model->state().kind == Kind::recording) {
            model->toggleRecording();
            test::waitFor([&] { return model->state().kind == Kind::idle; }, 10000);
        }
        if (screen)
            screen->hide();
        screen.reset();
        model.reset();
        if (editor)
            editor->tearDown();
        editor.reset();
        app.reset();
        userDefaults().clear();
    }

    void open() {
        userDefaults().clear();
        app = std::make_unique<ReelboxApp>(home.filePath(QStringLiteral("Takes")));
        take = makeSyntheticTake(app->library(), {4, 2, QSize(320, 180), 30, 0, false});
        editor = std::make_unique<TakeEditorModel>(take, &app->library(), app->sound());
        ASSERT_TRUE(test::waitFor([&] { return editor->sourceDuration() > 0; }, 10000));
        editor->setOverdubbing(true);
        model = std::make_unique<OverdubModel>(*editor, app->devices(), app->sound());
        model->setPreferredVideoSize(QSize(640, 360));
        model->setOutputID(testOutputId(), false);
        model->useCountdownSeconds(0);
        screen = std::make_unique<OverdubScreen>(*model, *editor);
        screen->resize(1400, 900);
        screen->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(screen.get()));
        // Cued, and the inputs read.
        ASSERT_TRUE(test::waitFor(
            [&] {
                return model->channels().size() == 2 &&
                       model->player().status() == Player::Status::ready &&
                       !screen->takePicture().frame().isNull();
            },
            15000));
    }

    QAccessibleInterface* control(QAccessible::Role role, const QString& name) const {
        return test::findAccessible(screen.get(), role, name);
    }
    // Its first action, as a screen reader would (a click is animated over 100 ms).
    void press(QAccessible::Role role, const QString& name) const {
        QAccessibleInterface* found = control(role, name);
        ASSERT_NE(found, nullptr) << name.toStdString();
        found->actionInterface()->doAction(found->actionInterface()->actionNames().value(0));
        test::runEvents(250);
    }
    void key(Qt::Key k) const {
        QTest::keyClick(screen.get(), k);
        QApplication::processEvents();
    }
    QString sideCaption() const {
        auto* pane = qobject_cast<VideoPane*>(screen->sidePane());
        return pane ? pane->caption() : QString();
    }

    test::TemporaryHome home;
    test::ScopedEnvironment tmp{"TMPDIR", QFile::encodeName(home.path())};
    test::ScopedEnvironment loopback{"REELBOX_TEST_LOOPBACK_MS", "20"};
    std::unique_ptr<test::PrivatePipeWire> daemon; // a sound server of the test's own, if any
    std::unique_ptr<ReelboxApp> app;
    Take take;
    std::unique_ptr<TakeEditorModel> editor;
    std::unique_ptr<OverdubModel> model;
    std::unique_ptr<OverdubScreen> screen;
};

} // namespace

// While it counts down or records, neither Escape nor the back button leaves.
TEST_F(OverdubScreenTest, RCountsDownOrRecordsAndTheOverdubJoinsTheTakeOrSaysWhyNot) {
    ASSERT_NO_FATAL_FAILURE(open());
    const auto leaveIsRefused = [&] {
        EXPECT_FALSE(screen->backButton().isEnabled());
        EXPECT_FALSE(screen->startBar().isEnabled());
        key(Qt::Key_Escape);
        EXPECT_TRUE(editor->isOverdubbing());
    };
    model->useCountdownSeconds(3);
    key(Qt::Key_R);
    ASSERT_EQ(model->state().kind, Kind::countdown);
    EXPECT_NE(control(QAccessible::StaticText, QStringLiteral("3")), nullptr);
    EXPECT_NE(control(QAccessible::StaticText, QStringLiteral("Starting in 3")), nullptr);
    EXPECT_NE(control(QAccessible::Button, QStringLiteral("Cancel countdown")), nullptr);
    leaveIsRefused();
    EXPECT_EQ(model->state().kind, Kind::countdown);
    key(Qt::Key_R);
    EXPECT_EQ(model->state(), RecorderState::idle());
    EXPECT_TRUE(screen->backButton().isEnabled());
    EXPECT_TRUE(screen->startBar().isEnabled());
    key(Qt::Key_Escape); // idle, it leaves
    EXPECT_FALSE(editor->isOverdubbing());
    editor->setOverdubbing(true);

    model->useCountdownSeconds(0);
    int ended = 0;
    QObject::connect(model.get(), &OverdubModel::recordingEnded, [&] { ++ended; });
    const auto record = [&] {
        key(Qt::Key_R);
        ASSERT_TRUE(test::waitFor([&] { return model->state().kind == Kind::recording; }, 8000));
        EXPECT_FALSE(screen->bar().practiceButton().isEnabled());
        leaveIsRefused();
        EXPECT_EQ(model->state().kind, Kind::recording);
        test::runEvents(800);
        const int before = ended;
        key(Qt::Key_R);
        ASSERT_TRUE(test::waitFor([&] { return ended == before + 1; }, 10000));
    };
    test::writeFile(take.overdubsFolder(), "a file where the overdubs should go");
    ASSERT_NO_FATAL_FAILURE(record());
    test::dismissProblem(screen.get(), QStringLiteral("Overdub Problem"),
                         [&] { return model->errorMessage(); });
    EXPECT_TRUE(editor->isOverdubbing());

    ASSERT_TRUE(QFile::remove(take.overdubsFolder()));
    ASSERT_NO_FATAL_FAILURE(record());
    EXPECT_TRUE(test::waitFor([&] { return !editor->isOverdubbing(); }, 1000));
}

TEST_F(OverdubScreenTest, SoundOnlyReplacesTheCameraAndTheStartBarCuesTheTake) {
    ASSERT_NO_FATAL_FAILURE(open());
    EXPECT_EQ(sideCaption(), QStringLiteral("Test Camera"));
    ASSERT_TRUE(test::waitFor([&] { return !screen->camera().frame().isNull(); }, 8000));
    EXPECT_TRUE(screen->bar().cameraCard().isVisible());
    EXPECT_TRUE(screen->camera().isMirrored()); // the stored default
    press(QAccessible::CheckBox, QStringLiteral("Mirror"));
    EXPECT_FALSE(model->mirrorPreview());
    EXPECT_FALSE(screen->camera().isMirrored());

    press(QAccessible::CheckBox, QStringLiteral("Sound"));
    EXPECT_FALSE(model->recordVideo());
    EXPECT_EQ(sideCaption(), QStringLiteral("Sound only"));
    EXPECT_FALSE(screen->bar().cameraCard().isVisible());
    press(QAccessible::CheckBox, QStringLiteral("Video too"));
    EXPECT_EQ(sideCaption(), QStringLiteral("Test Camera"));

    // Start range 0 … 3.5 s: the slider sets the start and the take is cued there.
    QSlider& slider = screen->startBar().slider();
    EXPECT_EQ(slider.maximum(), 3500);
    slider.setValue(1500);
    emit slider.sliderReleased();
    EXPECT_DOUBLE_EQ(model->startTime(), 1.5);
    EXPECT_EQ(screen->startBar().timeLabel().text(), QStringLiteral("0:01.5"));
    EXPECT_TRUE(
        test::waitFor([&] { return std::abs(model->player().currentTime() - 1.5) < 0.02; }, 5000));
    press(QAccessible::Button, QStringLiteral("Beginning"));
    EXPECT_EQ(model->startTime(), 0.0);
    EXPECT_EQ(slider.value(), 0);
    EXPECT_EQ(screen->startBar().timeLabel().text(), QStringLiteral("0:00.0"));
}

TEST_F(OverdubScreenTest, EveryControlIsNamedWithItsHelpAndListenOnOffersTheOutputs) {
    ASSERT_NO_FATAL_FAILURE(open());
    const std::pair<QAccessible::Role, const char*> named[] = {
        {QAccessible::Button, "Back to Editor"}, {QAccessible::Slider, "Starts at"},
        {QAccessible::Button, "Beginning"},      {QAccessible::CheckBox, "Sound"},
        {QAccessible::CheckBox, "Video too"},    {QAccessible::ComboBox, "Device"},
        {QAccessible::CheckBox, "Mirror"},       {QAccessible::Button, "Play"},
        {QAccessible::CheckBox, "Input 2"},      {QAccessible::Button, "Clip indicator"},
        {QAccessible::ComboBox, "Listen on"},    {QAccessible::Button, "Record"},
    };
    for (const auto& [role, name] : named) {
        QAccessibleInterface* found = control(role, QString::fromUtf8(name));
        ASSERT_NE(found, nullptr) << name;
        EXPECT_FALSE(found->text(QAccessible::Description).isEmpty()) << name;
    }
    EXPECT_NE(control(QAccessible::StaticText, QStringLiteral("Press R to record")), nullptr);
    // Every control shown, whatever it is, has a name and its help.
    int controls = 0;
    test::walkAccessible(
        QAccessible::queryAccessibleInterface(screen.get()), [&](QAccessibleInterface* e) {
            const auto* w = qobject_cast<QWidget*>(e->object());
            if (!w || !w->isVisible() || !e->actionInterface() ||
                e->actionInterface()->actionNames().isEmpty())
                return;
            ++controls;
            EXPECT_FALSE(e->text(QAccessible::Name).isEmpty()) << w->metaObject()->className();
            EXPECT_FALSE(e->text(QAccessible::Description).isEmpty())
                << e->text(QAccessible::Name).toStdString();
        });
    EXPECT_GE(controls, 12);

    // Space practises: the button says what it does now.
    key(Qt::Key_Space);
    EXPECT_TRUE(model->isPreviewing());
    EXPECT_NE(control(QAccessible::Button, QStringLiteral("Pause")), nullptr);
    key(Qt::Key_Space);
    EXPECT_FALSE(model->isPreviewing());
    EXPECT_NE(control(QAccessible::Button, QStringLiteral("Play")), nullptr);

    // "Listen on": the system output, then the outputs; the choice goes to the model.
    QComboBox& listen = screen->bar().listen().picker();
    EXPECT_EQ(listen.itemText(0), QStringLiteral("System Output"));
    EXPECT_EQ(listen.currentText(), QStringLiteral("Test Output"));
    emit listen.activated(0);
    EXPECT_EQ(model->outputID(), std::nullopt);
}

TEST_F(OverdubScreenTest, ListenOnFollowsOutputsPluggedInAndRemoved) {
    try {
        daemon = std::make_unique<test::PrivatePipeWire>();
    } catch (const std::exception& e) {
        GTEST_SKIP() << "no private sound server: " << e.what();
    }
    ASSERT_NO_FATAL_FAILURE(open());
    QComboBox& listen = screen->bar().listen().picker();
    daemon->addNullNode(u"reelbox-sink-later"_qs, u"Later Out"_qs, u"Audio/Sink"_qs, 2);
    ASSERT_TRUE(test::waitFor([&] { return listen.findText(u"Later Out"_qs) >= 0; }, 5000));
    // The chosen output stays chosen once the server's lists settle.
    EXPECT_TRUE(
        test::waitFor([&] { return listen.currentText() == QStringLiteral("Test Output"); }, 5000))
        << listen.currentText().toStdString();
    EXPECT_EQ(model->outputID(), std::optional(testOutputId()));
    daemon->removeNode(u"reelbox-sink-later"_qs);
    EXPECT_TRUE(test::waitFor([&] { return listen.findText(u"Later Out"_qs) < 0; }, 5000));
}
