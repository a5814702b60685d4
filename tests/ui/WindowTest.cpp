// The window on the real models and the virtual devices, offscreen.
#include "capture/RecorderModel.h"
#include "capture/SyntheticTake.h"
#include "model/TakeLibrary.h"
#include "support/TestSupport.h"
#include "ui/MainWindow.h"
#include "ui/RecorderScreen.h"
#include "ui/ReelboxApp.h"
#include "ui/Sidebar.h"
#include "ui/SidebarModel.h"
#include "ui/TakePlaceholder.h"
#include "ui/UiTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

using namespace reelbox;
using namespace reelbox::ui;
using Kind = RecorderState::Kind;

namespace reelbox::ui {
void PrintTo(const SidebarItem& item, std::ostream* out) {
    const char* kinds[] = {"none", "recorder", "take"};
    *out << kinds[int(item.kind)] << " " << item.folder.toStdString();
}
} // namespace reelbox::ui

namespace {

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        app = std::make_unique<ReelboxApp>(home.filePath(QStringLiteral("Takes")));
        app->recorder().setPreferredVideoSize(QSize(640, 360));
        app->recorder().setCountdownSeconds(0);
    }
    void TearDown() override {
        if (recorder().state().kind == Kind::recording) {
            recorder().toggleRecording(app->library());
            test::waitFor([&] { return recorder().state().kind == Kind::idle; }, 10000);
        }
        window.reset();
        recorder().deactivate();
        app.reset();
    }
    // `count` one-second synthetic takes, then the window.
    void open(int count) {
        for (int i = 0; i < count; ++i)
            makeSyntheticTake(app->library(), {1, 2, QSize(320, 180), 30, 0, false});
        window = std::make_unique<MainWindow>(*app);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    RecorderModel& recorder() const { return app->recorder(); }
    Sidebar& sidebar() const { return window->sidebar(); }
    const Take& take(size_t i) const { return app->library().takes().at(i); }
    void select(const SidebarItem& item) {
        sidebar().select(item);
        QApplication::processEvents();
    }
    // Opens a take row's menu and picks `action`.
    void pick(const Take& t, const QString& action) {
        QListView& list = sidebar().list();
        const QRect row = list.visualRect(sidebar().model().indexOf(SidebarItem::take(t.folder)));
        emit list.customContextMenuRequested(row.center());
        auto* menu = sidebar().findChild<QMenu*>();
        ASSERT_NE(menu, nullptr);
        QAction* chosen = nullptr;
        for (QAction* a : menu->actions())
            if (a->text() == action)
                chosen = a;
        ASSERT_NE(chosen, nullptr) << action.toStdString();
        chosen->trigger();
        menu->close();
        QApplication::processEvents();
    }
    // The texts of the labels the detail column shows.
    QStringList detailTexts() const {
        QStringList texts;
        for (auto* label : window->detail()->findChildren<QLabel*>())
            if (label->isVisible() && !label->text().isEmpty())
                texts << label->text();
        return texts;
    }

    test::TemporaryHome home;
    std::unique_ptr<ReelboxApp> app;
    std::unique_ptr<MainWindow> window;
};

} // namespace

TEST_F(WindowTest, TrashingTheSelectedTakeShowsNoTakeSelectedAndFillsTheTrash) {
    open(2);
    const Take doomed = take(0);
    select(SidebarItem::take(doomed.folder));
    EXPECT_TRUE(detailTexts().contains(doomed.info.name));
    pick(doomed, QStringLiteral("Move to Trash"));
    EXPECT_EQ(sidebar().selection(), SidebarItem{});
    EXPECT_TRUE(detailTexts().contains(QStringLiteral("No Take Selected")));
    EXPECT_FALSE(QFileInfo::exists(doomed.folder));
    const QString trashed = QDir(qEnvironmentVariable("XDG_DATA_HOME"))
                                .filePath(QStringLiteral("Trash/files/") + doomed.folderName());
    EXPECT_TRUE(QFileInfo::exists(trashed + QStringLiteral("/take.json"))) << trashed.toStdString();
    EXPECT_EQ(sidebar().model().rowCount(), 3); // recorder, heading, the other take
}

TEST_F(WindowTest, TheRecorderCantBeLeftWhileItRecordsAndIsDeactivatedOtherwise) {
    open(1);
    const SidebarItem other = SidebarItem::take(take(0).folder);
    // Counting down: leaving cancels the countdown.
    recorder().setCountdownSeconds(3);
    select(SidebarItem::recorder());
    recorder().toggleRecording(app->library());
    ASSERT_EQ(recorder().state().kind, Kind::countdown);
    select(other);
    EXPECT_EQ(recorder().state().kind, Kind::idle);
    EXPECT_EQ(sidebar().selection(), other);
    // Recording: the selection snaps back.
    recorder().setCountdownSeconds(0);
    select(SidebarItem::recorder());
    recorder().toggleRecording(app->library());
    ASSERT_EQ(recorder().state().kind, Kind::recording);
    select(other);
    ASSERT_TRUE(
        test::waitFor([&] { return sidebar().selection() == SidebarItem::recorder(); }, 2000));
    EXPECT_EQ(recorder().state().kind, Kind::recording);
    EXPECT_EQ(window->detail(), &window->recorderScreen());
}

TEST_F(WindowTest, RStartsARecordingThatLandsAsTheSelectedRowCtrlRAndTheRenameFieldDoNot) {
    open(1);
    select(SidebarItem::recorder());
    QListView& list = sidebar().list();
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_R, Qt::ControlModifier);
    QApplication::processEvents();
    EXPECT_EQ(recorder().state().kind, Kind::idle);

    // A key typed into the rename field names the take.
    const Take old = take(0);
    pick(old, QStringLiteral("Rename Take"));
    auto* dialog = window->findChild<QInputDialog*>();
    ASSERT_NE(dialog, nullptr);
    auto* field = dialog->findChild<QLineEdit*>();
    ASSERT_NE(field, nullptr);
    field->setFocus();
    field->clear();
    QTest::keyClicks(field, QStringLiteral("R r"));
    EXPECT_EQ(recorder().state().kind, Kind::idle);
    dialog->accept();
    QApplication::processEvents();
    EXPECT_EQ(TakeLibrary::readTake(old.folder)->info.name, QStringLiteral("R r"));

    ASSERT_TRUE(test::waitFor([&] { return recorder().channels().size() == 2; }, 5000));
    list.setFocus();
    QTest::keyClick(&list, Qt::Key_R);
    ASSERT_EQ(recorder().state().kind, Kind::recording);
    test::runEvents(2000);
    QTest::keyClick(&list, Qt::Key_R);
    ASSERT_TRUE(test::waitFor([&] { return app->library().takes().size() == 2; }, 15000));
    const Take made = take(0);
    ASSERT_TRUE(test::waitFor(
        [&] { return sidebar().selection() == SidebarItem::take(made.folder); }, 5000));
    EXPECT_NEAR(made.info.duration, 2.0, 0.6);
    EXPECT_TRUE(QFileInfo::exists(made.moviePath()));
    EXPECT_EQ(qobject_cast<TakePlaceholder*>(window->detail())->folder(), made.folder);
    EXPECT_EQ(recorder().state().kind, Kind::idle);
}

TEST_F(WindowTest, ALibrarySaveKeepsTheSelectionAndUpdatesTheRow) {
    open(3);
    const SidebarItem chosen = SidebarItem::take(take(1).folder);
    select(chosen);
    QWidget* shown = window->detail();
    int resets = 0;
    QObject::connect(&sidebar().model(), &QAbstractItemModel::modelReset, [&] { ++resets; });
    Take renamed = take(2);
    renamed.info.name = QStringLiteral("Saved elsewhere");
    renamed.info.edit.cuts = {{0.0, 0.6}};
    app->library().save(renamed);
    app->library().reload();
    QApplication::processEvents();
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(sidebar().selection(), chosen);
    EXPECT_EQ(window->detail(), shown);
    const QModelIndex row = sidebar().model().indexOf(SidebarItem::take(renamed.folder));
    EXPECT_EQ(row.data().toString(), QStringLiteral("Saved elsewhere"));
    EXPECT_TRUE(row.data(SidebarModel::EditedRole).toBool());
    // Renaming the selected take shows the new name and keeps it selected.
    app->library().rename(take(1), QStringLiteral("Renamed here"));
    QApplication::processEvents();
    EXPECT_EQ(sidebar().selection(), chosen);
    EXPECT_TRUE(detailTexts().contains(QStringLiteral("Renamed here")));
    EXPECT_EQ(row.data(SidebarModel::DurationRole).toString(),
              QStringLiteral("0:00")); // 0.4 s kept
}

TEST_F(WindowTest, ARecordingProblemIsShownUntilDismissed) {
    open(0);
    select(SidebarItem::recorder());
    const QString root = app->library().root();
    ASSERT_TRUE(QDir(root).removeRecursively());
    test::writeFile(root, "a file where the takes should go");
    QTest::keyClick(&sidebar().list(), Qt::Key_R);
    EXPECT_EQ(recorder().state().kind, Kind::idle);
    auto* box = window->findChild<QMessageBox*>();
    ASSERT_NE(box, nullptr);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Recording Problem"));
    EXPECT_EQ(box->informativeText(), *recorder().errorMessage());
    box->accept();
    QApplication::processEvents();
    EXPECT_FALSE(recorder().errorMessage());
}

// Screen readers, and a test, find every control of both screens by role and name.
TEST_F(WindowTest, EveryControlOfBothScreensHasAnAccessibleName) {
    open(1);
    select(SidebarItem::recorder());
    ASSERT_TRUE(test::waitFor([&] { return recorder().levels().size() == 2; }, 5000));
    test::runEvents(300);
    struct Control {
        QAccessible::Role role;
        QString name;
        bool needsHelp;
    };
    const Control controls[] = {
        {QAccessible::ListItem, QStringLiteral("New Recording"), false},
        {QAccessible::ListItem, take(0).info.name, true}, // the caption describes it
        {QAccessible::ComboBox, QStringLiteral("Device"), true},
        {QAccessible::ComboBox, QStringLiteral("Countdown"), true},
        {QAccessible::CheckBox, QStringLiteral("Mirror"), true},
        {QAccessible::CheckBox, QStringLiteral("Input 1"), true},
        {QAccessible::CheckBox, QStringLiteral("Input 2"), true},
        {QAccessible::ProgressBar, QStringLiteral("Input 2 level"), false},
        {QAccessible::Button, QStringLiteral("Clip indicator"), true},
        {QAccessible::Button, QStringLiteral("Record"), true},
        {QAccessible::StaticText, QStringLiteral("Press R to record"), false},
    };
    for (const Control& c : controls) {
        QAccessibleInterface* found = test::findAccessible(window.get(), c.role, c.name);
        ASSERT_NE(found, nullptr) << c.name.toStdString();
        EXPECT_EQ(found->text(QAccessible::Description).isEmpty(), !c.needsHelp)
            << c.name.toStdString();
    }
    // The meters read the Test Microphone: a steady tone well above silence.
    QAccessibleInterface* meter = test::findAccessible(window.get(), QAccessible::ProgressBar,
                                                       QStringLiteral("Input 1 level"));
    const double level = meter->valueInterface()->currentValue().toDouble();
    EXPECT_NEAR(level, recorder().levels().at(0).average, 3.0);
    EXPECT_GT(level, -40.0);
    EXPECT_EQ(test::findAccessible(window.get(), QAccessible::CheckBox, QStringLiteral("Input 1"))
                  ->text(QAccessible::Description),
              QStringLiteral("In the recording. Untick to leave this input out."));

    // Counting down: the overlay is named by its number, the button by what it does now.
    recorder().setCountdownSeconds(3);
    QTest::keyClick(&sidebar().list(), Qt::Key_Space);
    ASSERT_EQ(recorder().state().kind, Kind::countdown);
    EXPECT_NE(test::findAccessible(window.get(), QAccessible::StaticText, QStringLiteral("3")),
              nullptr);
    EXPECT_NE(
        test::findAccessible(window.get(), QAccessible::Button, QStringLiteral("Cancel countdown")),
        nullptr);
    EXPECT_NE(
        test::findAccessible(window.get(), QAccessible::StaticText, QStringLiteral("Get ready…")),
        nullptr);
    QTest::keyClick(&sidebar().list(), Qt::Key_R);
    EXPECT_EQ(recorder().state().kind, Kind::idle);

    // The take screen, and the empty one.
    select(SidebarItem::take(take(0).folder));
    EXPECT_NE(test::findAccessible(window->detail(), QAccessible::StaticText, take(0).info.name),
              nullptr);
    select({});
    EXPECT_NE(test::findAccessible(window->detail(), QAccessible::StaticText,
                                   QStringLiteral("No Take Selected")),
              nullptr);
}
