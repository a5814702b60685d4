// The window on the real models and the virtual devices, offscreen.
#include "capture/RecorderModel.h"
#include "capture/SyntheticTake.h"
#include "edit/SelectionOperations.h"
#include "edit/TakeEditorModel.h"
#include "model/TakeLibrary.h"
#include "play/Player.h"
#include "support/TestSupport.h"
#include "ui/EditorScreen.h"
#include "ui/ExportFlow.h"
#include "ui/ExportHud.h"
#include "ui/ExportPopover.h"
#include "ui/ExportToast.h"
#include "ui/MainWindow.h"
#include "ui/PositionOverlay.h"
#include "ui/PreviewGeometry.h"
#include "ui/PreviewView.h"
#include "ui/RecorderScreen.h"
#include "ui/ReelboxApp.h"
#include "ui/Sidebar.h"
#include "ui/SidebarModel.h"
#include "ui/TakeDetail.h"
#include "ui/TransportBar.h"
#include "ui/UiTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QUndoStack>
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
    // `count` one-second synthetic takes with `overdubs` each, then the window.
    void open(int count, int overdubs = 0) {
        for (int i = 0; i < count; ++i)
            makeSyntheticTake(app->library(), {1, 2, QSize(320, 180), 30, overdubs, false});
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
    // Opens take i in the editor and waits until its preview is in the player.
    TakeDetail& openEditor(size_t i) {
        select(SidebarItem::take(take(i).folder));
        TakeDetail* detail = window->takeDetail();
        EXPECT_NE(detail, nullptr);
        EXPECT_TRUE(test::waitFor(
            [&] {
                return detail->model().isIdle() &&
                       detail->model().player()->status() == Player::Status::ready;
            },
            30000));
        sidebar().list().setFocus();
        return *detail;
    }
    // A key as the user types it, into the focused take list.
    void type(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&sidebar().list(), key, modifiers);
        QApplication::processEvents();
    }
    // Whether the detail column (or, with `everywhere`, the window) shows `name` in `role`.
    bool shows(QAccessible::Role role, const QString& name, bool everywhere = false) const {
        QObject* root = everywhere ? static_cast<QObject*>(window.get()) : window->detail();
        return test::findAccessible(root, role, name) != nullptr;
    }

    test::TemporaryHome home;
    std::unique_ptr<ReelboxApp> app;
    std::unique_ptr<MainWindow> window;
};

} // namespace

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
    EXPECT_EQ(qobject_cast<TakeDetail*>(window->detail())->folder(), made.folder);
}

TEST_F(WindowTest, LibraryChangesKeepTheSelectionUntilItsTakeIsTrashed) {
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
    EXPECT_EQ(row.data(SidebarModel::DurationRole).toString(), QStringLiteral("0:00")); // 0.4 s
    // Renaming the selected take shows the new name and keeps it selected.
    app->library().rename(take(1), QStringLiteral("Renamed here"));
    QApplication::processEvents();
    EXPECT_EQ(sidebar().selection(), chosen);
    EXPECT_EQ(window->detail(), shown);
    EXPECT_TRUE(shows(QAccessible::StaticText, QStringLiteral("Renamed here")));
    // Trashed from its menu, nothing is selected.
    pick(*TakeLibrary::readTake(chosen.folder), QStringLiteral("Move to Trash"));
    EXPECT_EQ(sidebar().selection(), SidebarItem{});
    EXPECT_TRUE(shows(QAccessible::StaticText, QStringLiteral("No Take Selected")));
    EXPECT_EQ(sidebar().model().rowCount(), 4); // recorder, heading, the other two takes
}

TEST_F(WindowTest, ARecordingProblemIsShownUntilDismissed) {
    open(0);
    select(SidebarItem::recorder());
    const QString root = app->library().root();
    ASSERT_TRUE(QDir(root).removeRecursively());
    test::writeFile(root, "a file where the takes should go");
    QTest::keyClick(&sidebar().list(), Qt::Key_R);
    EXPECT_EQ(recorder().state().kind, Kind::idle);
    test::dismissProblem(window.get(), QStringLiteral("Recording Problem"),
                         [&] { return recorder().errorMessage(); });
}

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
        {QAccessible::ProgressBar, QStringLiteral("Input 2 level"), false},
        {QAccessible::Button, QStringLiteral("Record"), true},
        {QAccessible::StaticText, QStringLiteral("Press R to record"), false},
    };
    for (const Control& c : controls) {
        QAccessibleInterface* found = test::findAccessible(window.get(), c.role, c.name);
        ASSERT_NE(found, nullptr) << c.name.toStdString();
        EXPECT_EQ(found->text(QAccessible::Description).isEmpty(), !c.needsHelp)
            << c.name.toStdString();
    }
    // The meters show the model's levels.
    QAccessibleInterface* meter = test::findAccessible(window.get(), QAccessible::ProgressBar,
                                                       QStringLiteral("Input 1 level"));
    const double level = meter->valueInterface()->currentValue().toDouble();
    EXPECT_NEAR(level, recorder().levels().at(0).average, 3.0);

    // Counting down: the overlay is named by its number, the button by what it does now.
    recorder().setCountdownSeconds(3);
    QTest::keyClick(&sidebar().list(), Qt::Key_Space);
    ASSERT_EQ(recorder().state().kind, Kind::countdown);
    EXPECT_TRUE(shows(QAccessible::StaticText, QStringLiteral("3"), true));
    EXPECT_TRUE(shows(QAccessible::Button, QStringLiteral("Cancel countdown"), true));
    EXPECT_TRUE(shows(QAccessible::StaticText, QStringLiteral("Get ready…"), true));

    // The take screen: icon-only controls are named by what they do, with their help.
    TakeDetail& detail = openEditor(0);
    EXPECT_TRUE(shows(QAccessible::StaticText, take(0).info.name));
    for (const char* name :
         {"Back to start", "Play", "Split", "Delete", "Overdub", "More", "Share"}) {
        const auto role =
            name == std::string("More") ? QAccessible::ButtonMenu : QAccessible::Button;
        QAccessibleInterface* found = test::findAccessible(window->detail(), role, name);
        ASSERT_NE(found, nullptr) << name;
        EXPECT_FALSE(found->text(QAccessible::Description).isEmpty()) << name;
    }
    // Playing, the button is "Pause".
    detail.model().play();
    ASSERT_TRUE(test::waitFor([&] { return detail.model().isPlaying(); }, 5000));
    EXPECT_TRUE(shows(QAccessible::Button, QStringLiteral("Pause")));
    detail.model().pause();
}

TEST_F(WindowTest, EditorKeysEditTheTakeExportAndTheWindowUndoesThem) {
    open(2);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    TakeDetail& detail = openEditor(0);
    TakeEditorModel& model = detail.model();
    const auto edit = [&] { return model.take().info.edit; };

    // Space plays (from the start when at the end) and pauses; Return goes back to the start.
    model.seek(model.sourceDuration());
    ASSERT_TRUE(test::waitFor([&] { return model.atEnd() && !model.isSeeking(); }, 5000));
    type(Qt::Key_Space);
    ASSERT_TRUE(test::waitFor([&] { return model.isPlaying(); }, 5000));
    EXPECT_LT(model.playhead(), 0.5);
    // The preview shows the player's pictures.
    EXPECT_TRUE(test::waitFor([&] { return !detail.editor().preview().frame().isNull(); }, 5000));
    type(Qt::Key_Space);
    EXPECT_FALSE(model.isPlaying());
    type(Qt::Key_Return);
    ASSERT_TRUE(test::waitFor([&] { return !model.isSeeking(); }, 5000));
    EXPECT_EQ(model.playhead(), 0);
    EXPECT_TRUE(detail.editor().transport().timeLabel().text().startsWith("0:00.0 / "));

    model.seek(0.5);
    type(Qt::Key_S, Qt::ControlModifier); // the menus' key, not the editor's
    EXPECT_TRUE(edit().splits.empty());
    type(Qt::Key_S);
    EXPECT_EQ(edit().splits, (std::vector<double>{0.5}));
    type(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(edit().splits.empty());
    type(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(edit().splits, (std::vector<double>{0.5}));

    model.setSelection(selectTimeline(model.editingState(), 0.2));
    type(Qt::Key_Delete);
    ASSERT_EQ(edit().cuts.size(), 1u);
    EXPECT_TRUE(shows(QAccessible::Button, QStringLiteral("Restore")));
    EXPECT_FALSE(shows(QAccessible::Button, QStringLiteral("Delete")));
    type(Qt::Key_Backspace);
    EXPECT_TRUE(edit().cuts.empty());
    type(Qt::Key_Escape);
    EXPECT_FALSE(model.selection());
    EXPECT_EQ(window->undoStack().count(), 3);

    // Ctrl+E, then Return ("Save…"); the file dialog is a stand-in, as a test can't answer one.
    EditorScreen& editor = detail.editor();
    QDir().mkpath(home.filePath("Exports"));
    const QString destination = home.filePath("Exports/out.mp4");
    QString suggested, filter;
    editor.exportFlow().setSaveChooser([&](QWidget*, const QString& start, const QString& filters) {
        suggested = start;
        filter = filters;
        return destination;
    });
    QStringList percents;
    QObject::connect(&detail.model(), &TakeEditorModel::exportProgressChanged, [&] {
        if (editor.exportHud().isVisible())
            percents << editor.exportHud().percentText();
    });

    type(Qt::Key_E, Qt::ControlModifier);
    ASSERT_TRUE(editor.exportPopover().isVisible());
    QTest::keyClick(&editor.exportPopover(), Qt::Key_Return);
    EXPECT_FALSE(editor.exportPopover().isVisible());
    ASSERT_TRUE(test::waitFor([&] { return editor.toast().isVisible(); }, 60000))
        << detail.model().errorMessage().value_or("").toStdString();
    const QString name = QString(take(0).info.name).replace(':', '.'); // "12:30" → "12.30"
    EXPECT_EQ(suggested, QDir(saveStartFolder()).filePath(name + ".mp4"));
    EXPECT_EQ(filter, QStringLiteral("MPEG-4 movie (*.mp4)"));
    EXPECT_EQ(editor.toast().message(), QStringLiteral("Saved out.mp4"));
    ASSERT_FALSE(percents.isEmpty());
    EXPECT_EQ(percents.last(), QStringLiteral("100%"));
    EXPECT_FALSE(editor.exportHud().isVisible());

    // "Share…": in the share folder, on the clipboard and shown in the file manager (a stand-in).
    QString revealed;
    editor.exportFlow().setRevealer([&](const QString& path) {
        revealed = path;
        return true;
    });
    editor.toast().dismiss();
    type(Qt::Key_E, Qt::ControlModifier);
    auto* share = test::findAccessible(&editor.exportPopover(), QAccessible::Button, "Share…");
    ASSERT_NE(share, nullptr);
    share->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(test::waitFor([&] { return editor.toast().isVisible(); }, 60000));
    const QString shared = QDir(QDir::tempPath()).filePath("Reelbox-share/" + name + ".mp4");
    EXPECT_EQ(editor.toast().message(), "Ready to share: " + name + ".mp4 (copied)");
    EXPECT_EQ(revealed, shared);
    const QMimeData* copied = QApplication::clipboard()->mimeData();
    ASSERT_NE(copied, nullptr);
    EXPECT_EQ(copied->urls(), QList<QUrl>{QUrl::fromLocalFile(shared)});
    EXPECT_EQ(copied->text(), shared);
    QFile::remove(shared);

    // The recording becomes unreadable under the open editor: the next export fails.
    ASSERT_TRUE(QFile::remove(take(0).moviePath()));
    test::writeFile(take(0).moviePath(), "not a movie");
    editor.toast().dismiss();
    type(Qt::Key_E, Qt::ControlModifier);
    QTest::keyClick(&editor.exportPopover(), Qt::Key_Return);
    test::dismissProblem(window.get(), QStringLiteral("Problem"),
                         [&] { return detail.model().errorMessage(); });
    EXPECT_FALSE(editor.toast().isVisible());

    // Another take: a fresh editor and an empty history.
    openEditor(1);
    EXPECT_EQ(window->undoStack().count(), 0);
}

TEST_F(WindowTest, DraggingAVideoInThePreviewMovesItInItsFrame) {
    open(1, 1);
    TakeDetail& detail = openEditor(0);
    TakeEditorModel& model = detail.model();
    ASSERT_GE(model.placements().size(), 2u);
    const TakeComposer::Placement placement = model.placements().front();
    const double slack = placement.sourceSize.width - placement.crop.width;
    ASSERT_GT(slack, 1);
    PositionOverlay& overlay = detail.editor().preview().overlay();
    const ViewFit fit =
        fitInto(model.renderSize(), {double(overlay.width()), double(overlay.height())});
    const RectD tile = fit.map(placement.tile);
    const QPoint centre(int(tile.x + tile.width / 2), int(tile.y + tile.height / 2));
    // Source pixels per point of the drag.
    const double k = placement.crop.width / tile.width;

    QTest::mouseMove(&overlay, centre);
    ASSERT_EQ(overlay.hovered(), placement.lane);
    EXPECT_EQ(overlay.cursor().shape(), Qt::OpenHandCursor);
    QTest::mousePress(&overlay, Qt::LeftButton, {}, centre);
    QTest::mouseMove(&overlay, centre + QPoint(1, 0)); // under 2 points: not yet a drag
    EXPECT_EQ(model.exportSettings().position(placement.lane).x, 0);
    QTest::mouseMove(&overlay, centre + QPoint(10, 0));
    EXPECT_EQ(overlay.cursor().shape(), Qt::ClosedHandCursor);
    const double x = model.exportSettings().position(placement.lane).x;
    EXPECT_NEAR(x, -2 * k * 10 / slack, 1e-9);
    QTest::mouseRelease(&overlay, Qt::LeftButton, {}, centre + QPoint(10, 0));
    EXPECT_EQ(overlay.cursor().shape(), Qt::OpenHandCursor);

    // Mirrored, the same drag moves it back.
    ExportSettings mirrored = model.exportSettings();
    mirrored.mirror = true;
    model.setExportSettings(mirrored);
    QTest::mousePress(&overlay, Qt::LeftButton, {}, centre);
    QTest::mouseMove(&overlay, centre + QPoint(10, 0));
    EXPECT_NEAR(model.exportSettings().position(placement.lane).x, 0, 1e-9);
    QTest::mouseRelease(&overlay, Qt::LeftButton, {}, centre + QPoint(10, 0));
}
