// The edit timeline: its pure maths in tables, then the widgets on the real editor model.
#include "edit/EditOperations.h"
#include "edit/SelectionOperations.h"
#include "edit/TakeEditorModel.h"
#include "ui/EditTimeline.h"
#include "ui/GroupDeletion.h"
#include "ui/GroupHeader.h"
#include "ui/TimeAxis.h"
#include "ui/TimelineDrag.h"
#include "ui/TimelineHeaders.h"
#include "ui/TimelineLayout.h"
#include "ui/TimelineScale.h"
#include "ui/TimelineView.h"
#include "ui/UiTestSupport.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace reelbox;
using namespace reelbox::ui;
using Kind = TimelineRow::Kind;

TEST(TimelineTables, LayoutRowsTopsCardsAndHeight) {
    const QUuid a = QUuid::createUuid(), b = QUuid::createUuid(), o = QUuid::createUuid();
    const Lane video = Lane::mainVideo(), dubVideo = Lane::overdubVideo(o);
    const Lane trackA = Lane::audio(a), trackB = Lane::audio(b);
    const Group take = Group::take(), dub = Group::overdub(o);
    struct Case {
        const char* name;
        std::vector<GroupLanes> groups;
        std::vector<Kind> kinds;
        std::vector<double> tops;
        std::vector<std::pair<double, double>> cards; // top, height
        double height;
    };
    const std::vector<Case> cases{
        {"no groups", {}, {Kind::ruler}, {0}, {}, 34},
        {"video and two tracks: the video lane titles the group",
         {{take, {video, trackA, trackB}}},
         {Kind::ruler, Kind::gap, Kind::lane, Kind::lane, Kind::lane},
         {0, 34, 46, 110, 186},
         {{46, 216}},
         262},
        {"sound-only overdub after the take: a title row",
         {{take, {video}}, {dub, {trackA}}},
         {Kind::ruler, Kind::gap, Kind::lane, Kind::gap, Kind::group, Kind::lane},
         {0, 34, 46, 110, 122, 152},
         {{46, 64}, {122, 106}},
         228},
        {"an empty group keeps its title row",
         {{dub, {}}, {take, {dubVideo}}},
         {Kind::ruler, Kind::gap, Kind::group, Kind::gap, Kind::lane},
         {0, 34, 46, 76, 88},
         {{46, 30}, {88, 64}},
         152},
    };
    for (const Case& c : cases) {
        const TimelineLayout layout = timelineLayout(c.groups);
        std::vector<Kind> kinds;
        for (const TimelineRow& row : layout.rows)
            kinds.push_back(row.kind);
        EXPECT_EQ(kinds, c.kinds) << c.name;
        EXPECT_EQ(layout.tops, c.tops) << c.name;
        EXPECT_EQ(layout.height, c.height) << c.name;
        ASSERT_EQ(layout.cards.size(), c.cards.size()) << c.name;
        for (std::size_t i = 0; i < c.cards.size(); ++i) {
            EXPECT_EQ(layout.cards[i].top, c.cards[i].first) << c.name << " card " << i;
            EXPECT_EQ(layout.cards[i].height, c.cards[i].second) << c.name << " card " << i;
            EXPECT_EQ(layout.cards[i].group, c.groups[i].group) << c.name;
        }
    }
    // Rows under a y: the last whose top is at or above it.
    const TimelineLayout layout = timelineLayout({{take, {video, trackA}}});
    for (const auto& [y, row] : std::vector<std::pair<double, int>>{
             {0, 0}, {33.9, 0}, {34, 1}, {46, 2}, {109.9, 2}, {110, 3}, {400, 3}})
        EXPECT_EQ(layout.rowAt(y), row) << y;
    EXPECT_EQ(layout.rows[3].lane, trackA);
    EXPECT_EQ(layout.cards[0].rows, (std::vector<int>{2, 3}));
}

TEST(TimelineTables, TimeAxisDragModeAndTrimPreviews) {
    struct Mapping {
        double width, duration, t, x;
    };
    for (const Mapping& c : std::vector<Mapping>{{224, 10, 0, 12},
                                                 {224, 10, 5, 112},
                                                 {224, 10, 10, 212},
                                                 {524, 60, 15, 137},
                                                 {10, 10, 10, 13}}) { // W = max(w − 24, 1)
        const TimeAxis axis{c.width, c.duration};
        EXPECT_DOUBLE_EQ(axis.x(c.t), c.x) << c.width << " " << c.t;
        EXPECT_DOUBLE_EQ(axis.time(c.x), c.t) << c.width << " " << c.x;
    }
    const TimeAxis axis{224, 10};  // 20 points a second from x = 12
    EXPECT_EQ(axis.time(0), 0);    // left of the inset
    EXPECT_EQ(axis.time(224), 10); // right of the usable width
    EXPECT_EQ((TimeAxis{224, 0}.time(100)), 0);

    // The drag's mode from where it starts; trims keep their distance.
    EditState trimmed;
    trimmed.inPoint = 2;  // x 52
    trimmed.outPoint = 8; // x 172
    EditState close;      // edges 8 points apart: x 112 and 120
    close.inPoint = 5;
    close.outPoint = 5.4;
    const EditState whole; // the out edge is the end: x 212
    struct Case {
        const char* name;
        EditState edit;
        QPointF start;
        DragKind kind;
    };
    for (const Case& c : std::vector<Case>{
             {"on the in edge", trimmed, {52, 50}, DragKind::trimStart},
             {"just inside 8 points", trimmed, {59.9, 50}, DragKind::trimStart},
             {"8 points away", trimmed, {60, 50}, DragKind::scrub},
             {"near the out edge", trimmed, {177, 200}, DragKind::trimEnd},
             {"on the ruler, even on an edge", trimmed, {52, 20}, DragKind::scrub},
             {"the ruler's last line", trimmed, {52, 34}, DragKind::scrub},
             {"a tie between close edges picks in", close, {116, 50}, DragKind::trimStart},
             {"nearer the out edge", close, {117, 50}, DragKind::trimEnd},
             {"no out point: the end is the out edge", whole, {206, 50}, DragKind::trimEnd},
         })
        EXPECT_EQ(dragKindAt(c.start, c.edit, axis), c.kind) << c.name;

    // Trims drop an out point at the end.
    struct Trim {
        const char* name;
        DragKind kind;
        double t;
        double in;
        std::optional<double> out;
    };
    for (const Trim& c : std::vector<Trim>{
             {"in stops 0.2 before out", DragKind::trimStart, 9, 7.8, 8.0},
             {"out follows the pointer", DragKind::trimEnd, 6, 2, 6.0},
             {"out stops 0.2 after in", DragKind::trimEnd, 1, 2, 2.2},
             {"out 0.02 before the end stays", DragKind::trimEnd, 9.98, 2, 9.98},
             {"out within 0.01 of the end is none", DragKind::trimEnd, 9.995, 2, std::nullopt},
             {"a scrub changes nothing", DragKind::scrub, 5, 2, 8.0},
         }) {
        const EditState preview = trimPreview(c.kind, trimmed, c.t, 10);
        EXPECT_NEAR(preview.inPoint, c.in, 1e-9) << c.name;
        EXPECT_EQ(preview.outPoint.has_value(), c.out.has_value()) << c.name;
        EXPECT_NEAR(preview.outPoint.value_or(-1), c.out.value_or(-1), 1e-9) << c.name;
    }
    for (const auto& [dx, click] : std::vector<std::pair<double, bool>>{
             {0, true}, {2, true}, {-2.9, true}, {3, false}, {-3, false}, {40, false}})
        EXPECT_EQ(isClick(dx), click) << dx;
}

TEST(TimelineTables, RulerStepLabelsAndWaveformBars) {
    struct Step {
        double duration, width, step;
    };
    for (const Step& c : std::vector<Step>{{10, 200, 5},
                                           {10, 700, 1},
                                           {10, 699, 2},
                                           {600, 800, 60},
                                           {3600, 200, 300},
                                           {0, 200, 1}})
        EXPECT_EQ(rulerLabelStep(c.duration, c.width), c.step) << c.duration << " " << c.width;
    for (const auto& [t, text] : std::vector<std::pair<double, const char*>>{
             {0, "0:00"}, {61.9, "1:01"}, {-3, "0:00"}, {600, "10:00"}, {59.99, "0:59"}})
        EXPECT_EQ(rulerLabel(t), QString::fromLatin1(text)) << t;

    // 8 buckets over 8 points: each 2-point step covers two buckets.
    const Waveform waveform{{0.1f, 1.0f, 0.25f, 0.f, 0.f, 0.f, 0.5f, 0.f}, 0.01};
    const auto bars = waveformBars(waveform, 0.08, 8, 40);
    ASSERT_EQ(bars.size(), 4u);
    const double half = 40 * 0.5 * 0.95;
    const std::vector<double> expected{half, std::pow(0.25, 0.6) * half, 0.5,
                                       std::pow(0.5, 0.6) * half};
    for (std::size_t i = 0; i < bars.size(); ++i) {
        EXPECT_EQ(bars[i].x, 2.0 * double(i));
        EXPECT_NEAR(bars[i].halfHeight, expected[i], 1e-6) << i;
    }
    EXPECT_TRUE(waveformBars(waveform, 0, 8, 40).empty());
    // Past the last peak the bars stay at the half-point floor.
    EXPECT_EQ(waveformBars(waveform, 0.16, 8, 40).back().halfHeight, 0.5);
}

TEST(TimelineTables, DeleteQuestionsAndScrolling) {
    TakeInfo info;
    const Group take = Group::take();
    EXPECT_EQ(deleteConfirmation(info, take),
              (DeleteConfirmation{"Delete this take?", "The whole take is moved to the Trash."}));
    info.overdubs = {Overdub{}}; // an overdub's question: DeleteRecordingAsks… below
    EXPECT_EQ(deleteConfirmation(info, take),
              (DeleteConfirmation{"Delete Take?",
                                  "The original video and sound are moved to the Trash. The "
                                  "overdubs stay where they are."}));

    for (const auto& [height, visible, scrolls] : std::vector<std::tuple<double, int, bool>>{
             {262, 262, false}, {460, 460, false}, {461, 460, true}}) {
        EXPECT_EQ(visibleTimelineHeight(height), visible) << height;
        EXPECT_EQ(timelineScrolls(height), scrolls) << height;
    }
}

namespace {

class TimelineTest : public test::EditorWidgetTest {
protected:
    void open(int overdubs = 0) {
        EditorWidgetTest::open(overdubs);
        showTimeline();
    }
    TimelineView& lanes() const { return *timeline->lanes(); }
    TimeAxis axis() const { return lanes().axis(); }
    // The middle of the row showing `lane`.
    int yOf(const Lane& lane) const {
        const TimelineLayout& layout = timeline->timelineLayout();
        for (std::size_t i = 0; i < layout.rows.size(); ++i)
            if (layout.rows[i].kind == Kind::lane && layout.rows[i].lane == lane)
                return int(layout.tops[i] + layout.rows[i].height() / 2);
        return -1;
    }
    QPoint at(double t, int y) const { return {int(std::lround(axis().x(t))), y}; }
    Lane audioLane(int i) const { return Lane::audio(track(size_t(i)).id); }
};

} // namespace

TEST_F(TimelineTest, DraggingTheInEdgePreviewsThenCommitsTrimStart) {
    open();
    ASSERT_DOUBLE_EQ(model->sourceDuration(), 3);
    const EditState before = model->take().info.edit;
    const int y = yOf(Lane::mainVideo());
    QTest::mousePress(&lanes(), Qt::LeftButton, {}, at(0, y));
    for (const double t : {0.5, 1.0, 1.25}) {
        QTest::mouseMove(&lanes(), at(t, y));
        EXPECT_NEAR(model->take().info.edit.inPoint, t, 0.005);
    }
    EXPECT_EQ(stack.count(), 0); // previews register nothing
    const int builds = lanes().layerBuilds();
    QTest::mouseRelease(&lanes(), Qt::LeftButton, {}, at(1.25, y));
    ASSERT_EQ(stack.count(), 1);
    EXPECT_EQ(stack.undoText(), QStringLiteral("Trim Start"));
    EXPECT_NEAR(model->take().info.edit.inPoint, 1.25, 0.005);
    QTest::qWait(20);
    EXPECT_GT(lanes().layerBuilds(), builds); // the trimmed edit is drawn

    stack.undo();
    EXPECT_EQ(model->take().info.edit, before);

    // The out edge, at the end while there is no out point.
    QTest::mousePress(&lanes(), Qt::LeftButton, {}, at(3, y));
    QTest::mouseMove(&lanes(), at(2, y));
    QTest::mouseRelease(&lanes(), Qt::LeftButton, {}, at(2, y));
    EXPECT_EQ(stack.undoText(), QStringLiteral("Trim End"));
    EXPECT_NEAR(model->take().info.edit.outPoint.value_or(0), 2, 0.005);
    ASSERT_TRUE(test::waitFor([&] { return model->isIdle(); }));
}

TEST_F(TimelineTest, ClicksSelectPartsAndTheRulerAndAScrubMovesThePlayhead) {
    open();
    model->seek(1.5);
    model->apply(splitAtPlayhead(model->editingState()));
    const Lane first = audioLane(0), second = audioLane(1);

    // A click with a 2-point wiggle selects the part under it.
    QTest::mousePress(&lanes(), Qt::LeftButton, {}, at(2, yOf(first)));
    QTest::mouseMove(&lanes(), at(2, yOf(first)) + QPoint(2, 0));
    QTest::mouseRelease(&lanes(), Qt::LeftButton, {}, at(2, yOf(first)) + QPoint(2, 0));
    EXPECT_EQ(model->selection(), Selection::ofParts({{first, {1.5, 3}}}));
    // Shift adds another lane's part; without it, a click replaces the selection.
    QTest::mouseClick(&lanes(), Qt::LeftButton, Qt::ShiftModifier, at(0.5, yOf(second)));
    EXPECT_EQ(model->selection(), Selection::ofParts({{first, {1.5, 3}}, {second, {0, 1.5}}}));
    QTest::mouseClick(&lanes(), Qt::LeftButton, {}, at(0.5, yOf(second)));
    EXPECT_EQ(model->selection(), Selection::ofParts({{second, {0, 1.5}}}));
    // On the ruler a click selects the timeline's part, and moves the playhead there.
    QTest::mouseClick(&lanes(), Qt::LeftButton, {}, at(2.5, 20));
    EXPECT_EQ(model->selection(), Selection::ofTimeline({1.5, 3}));
    EXPECT_NEAR(model->playhead(), 2.5, 0.005);

    // A longer drag only scrubs; the layer is not redrawn for the playhead.
    ASSERT_TRUE(test::waitFor([&] { return model->isIdle(); }));
    QTest::qWait(20);
    const int builds = lanes().layerBuilds();
    QTest::mousePress(&lanes(), Qt::LeftButton, {}, at(1, yOf(first)));
    QTest::mouseMove(&lanes(), at(2, yOf(first)));
    QTest::mouseRelease(&lanes(), Qt::LeftButton, {}, at(2, yOf(first)));
    EXPECT_EQ(model->selection(), Selection::ofTimeline({1.5, 3}));
    EXPECT_NEAR(model->playhead(), 2, 0.005);
    QTest::qWait(20);
    EXPECT_EQ(lanes().layerBuilds(), builds);
    // The playhead column is red.
    const QImage picture = lanes().grab().toImage();
    const QColor playhead = picture.pixelColor(int(std::floor(axis().x(2))), yOf(first));
    EXPECT_GT(playhead.red(), 200);
    EXPECT_LT(playhead.green(), 100);
    ASSERT_TRUE(test::waitFor([&] { return model->isIdle(); }));
}

TEST_F(TimelineTest, TheHeaderColumnIsNamedWithHelpAndItsTitlesSelectAndDelete) {
    open(2);
    // The take and two overdubs (566 points) are taller than the 460 points shown.
    EXPECT_EQ(timeline->scrollArea()->height(), 460);
    EXPECT_GT(timeline->scrollArea()->verticalScrollBar()->maximum(), 0);
    // The titles and controls of the header column are named, with their help.
    const auto helpOf = [&](const QString& name) {
        std::optional<QString> help;
        test::walkAccessible(
            QAccessible::queryAccessibleInterface(timeline.get()), [&](QAccessibleInterface* e) {
                if (!help && e->text(QAccessible::Name) == name)
                    help = e->text(QAccessible::Help) + e->text(QAccessible::Description);
            });
        return help;
    };
    for (const char* name : {"All tracks", "Delete recording", "Hide video", "Take", "Overdub 1"})
        EXPECT_FALSE(helpOf(name).value_or("").isEmpty()) << name;
    for (const Track& track : model->take().info.tracks)
        EXPECT_TRUE(helpOf(track.name)) << track.name.toStdString();

    QAccessibleInterface* lanesControl =
        test::findAccessible(timeline.get(), QAccessible::Slider, QStringLiteral("Timeline"));
    ASSERT_NE(lanesControl, nullptr);
    model->seek(1.25);
    EXPECT_EQ(lanesControl->text(QAccessible::Value), QStringLiteral("1.25"));

    // The eye hides the take's video and then offers to show it.
    auto* eye = test::findAccessible(timeline.get(), QAccessible::Button, "Hide video");
    ASSERT_NE(eye, nullptr);
    eye->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_FALSE(model->take().info.showMainVideo);
    EXPECT_NE(test::findAccessible(timeline.get(), QAccessible::Button, "Show video"), nullptr);

    // A group's title selects the parts under the playhead in its lanes; Shift adds another's.
    const auto titles = timeline->headers()->findChildren<GroupHeader*>();
    ASSERT_EQ(titles.size(), 3);
    QTest::mouseClick(titles[0], Qt::LeftButton, {}, QPoint(40, 15));
    ASSERT_TRUE(model->selection().has_value());
    EXPECT_EQ(model->selection()->parts.size(), 3u);
    QTest::mouseClick(titles[1], Qt::LeftButton, Qt::ShiftModifier, QPoint(40, 15));
    EXPECT_EQ(model->selection()->parts.size(), 5u);

    // A recording's trash button asks first; "Cancel" keeps the recording.
    for (const QString& answer : {QStringLiteral("Cancel"), QStringLiteral("Delete")}) {
        auto* trash = test::findAccessible(titles[1], QAccessible::Button, "Delete recording");
        ASSERT_NE(trash, nullptr);
        QTest::mouseClick(qobject_cast<QWidget*>(trash->object()), Qt::LeftButton);
        QMessageBox* box = nullptr; // the one asking now
        for (auto* shown : titles[1]->findChildren<QMessageBox*>())
            box = shown->isVisible() ? shown : box;
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->text(), QStringLiteral("Delete Overdub 1?"));
        EXPECT_EQ(model->take().info.overdubs.size(), 2u) << "deleted before the answer";
        for (QAbstractButton* button : box->buttons())
            if (button->text().remove(QLatin1Char('&')) == answer)
                button->click();
        QApplication::processEvents();
    }
    EXPECT_EQ(model->take().info.overdubs.size(), 1u);
    settle();
}
