// The window's pure parts, as tables.
#include "ui/EditorKeys.h"
#include "ui/ExportFlow.h"
#include "ui/ExportHud.h"
#include "ui/ExportPopover.h"
#include "ui/Format.h"
#include "ui/KeyMonitor.h"
#include "ui/MeterScale.h"
#include "ui/PreviewGeometry.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <gtest/gtest.h>
#include <memory>

using namespace reelbox;
using namespace reelbox::ui;

TEST(UiTables, FormatDurationRoundsAndFormatTimeTruncatesWithoutHours) {
    const struct {
        double seconds;
        const char* text;
    } durations[] = {{59.5, "1:00"}, {0, "0:00"},   {4500, "75:00"}, {59.49, "0:59"},
                     {61, "1:01"},   {0.5, "0:01"}, {-3, "0:00"},    {3599.6, "60:00"}};
    for (const auto& c : durations)
        EXPECT_EQ(formatDuration(c.seconds), QString::fromLatin1(c.text)) << c.seconds;

    const struct {
        double seconds;
        bool precise;
        const char* text;
    } times[] = {{-3, true, "0:00.0"},    {61.9, false, "1:01"},   {61.9, true, "1:01.9"},
                 {0, false, "0:00"},      {59.99, false, "0:59"},  {60, true, "1:00.0"},
                 {3.04, true, "0:03.0"},  {600.5, false, "10:00"}, {-0.1, false, "0:00"},
                 {125.27, true, "2:05.3"}};
    for (const auto& c : times)
        EXPECT_EQ(formatTime(c.seconds, c.precise), QString::fromLatin1(c.text))
            << c.seconds << " " << c.precise;
}

TEST(UiTables, MeterFillsFromMinusSixtyToZeroAndThePeakTurnsRedAboveMinusOne) {
    const struct {
        float db;
        double fraction;
        bool hot;
    } cases[] = {{-160, 0, false},       {-60, 0, false},
                 {-61, 0, false},        {-30, 0.5, false},
                 {-1, 59.0 / 60, false}, {-0.99f, 59.01 / 60, true},
                 {0, 1, true},           {6, 1, true}};
    for (const auto& c : cases) {
        EXPECT_NEAR(meterFraction(c.db), c.fraction, 1e-6) << c.db;
        EXPECT_EQ(peakIsHot(c.db), c.hot) << c.db;
    }
    // Green to 0.75, yellow at 0.88, red at 1.
    const struct {
        double at;
        QColor color;
    } colours[] = {{0, QColor(52, 199, 89)},
                   {0.75, QColor(52, 199, 89)},
                   {0.88, QColor(255, 204, 0)},
                   {1, QColor(255, 59, 48)}};
    for (const auto& c : colours)
        EXPECT_EQ(meterColorAt(c.at).rgb(), c.color.rgb()) << c.at;
    EXPECT_GT(meterColorAt(0.8).red(), 52); // between green and yellow
}

TEST(UiTables, RelativeDatesAgainstAFixedNow) {
    const QLocale english(QLocale::English, QLocale::UnitedKingdom);
    const QDateTime now(QDate(2026, 12, 5), QTime(18, 30), Qt::LocalTime); // a Saturday
    const struct {
        QDateTime when;
        const char* text;
    } cases[] = {
        {QDateTime(QDate(2026, 12, 5), QTime(14, 21), Qt::LocalTime), "Today, 14:21"},
        {QDateTime(QDate(2026, 12, 5), QTime(0, 0), Qt::LocalTime), "Today, 00:00"},
        {QDateTime(QDate(2026, 12, 4), QTime(23, 59), Qt::LocalTime), "Yesterday, 23:59"},
        {QDateTime(QDate(2026, 11, 29), QTime(8, 5), Qt::LocalTime), "Sunday, 08:05"},
        {QDateTime(QDate(2026, 11, 28), QTime(8, 5), Qt::LocalTime), "28/11/2026"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(relativeDate(c.when, now, english), QString::fromUtf8(c.text)) << c.text;
}

// A line edit and the take list, with and without Ctrl, are typed into in the window test.
TEST(UiTables, KeyMonitorPassesModifiedKeysAndTextEntryOnly) {
    QComboBox editable;
    editable.setEditable(true);
    const std::unique_ptr<QWidget> widgets[] = {
        std::make_unique<QSpinBox>(),       std::make_unique<QTextEdit>(),
        std::make_unique<QPlainTextEdit>(), std::make_unique<QComboBox>(),
        std::make_unique<QPushButton>(),
    };
    const struct {
        const QWidget* focus;
        Qt::KeyboardModifiers modifiers;
        bool passes;
    } cases[] = {
        {nullptr, Qt::NoModifier, false},
        {nullptr, Qt::ShiftModifier, false},
        {nullptr, Qt::ControlModifier, true},
        {nullptr, Qt::AltModifier, true},
        {nullptr, Qt::MetaModifier, true},
        {widgets[0].get(), Qt::NoModifier, true},
        {widgets[1].get(), Qt::NoModifier, true},
        {widgets[2].get(), Qt::ShiftModifier, true},
        {&editable, Qt::NoModifier, true},
        {widgets[3].get(), Qt::NoModifier, false}, // a combo box that can't be typed into
        {widgets[4].get(), Qt::NoModifier, false},
        {widgets[4].get(), Qt::KeypadModifier, false},
    };
    int i = 0;
    for (const auto& c : cases)
        EXPECT_EQ(KeyMonitor::passesThrough(c.modifiers, c.focus), c.passes) << "case " << i++;
}

TEST(UiTables, EditorKeysInTheirOrder) {
    using K = EditorKey;
    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        const char* text;
        bool selected;
        bool removed;
        EditorKey action;
    } cases[] = {
        {Qt::Key_Enter, Qt::KeypadModifier, "\r", true, false, K::jumpToStart},
        {Qt::Key_Home, none, "", false, false, K::jumpToStart},
        {Qt::Key_Space, Qt::ShiftModifier, " ", true, false, K::togglePlayback},
        {Qt::Key_Backspace, none, "\b", false, false, K::none},
        {Qt::Key_Backspace, none, "\b", true, false, K::removeSelected},
        {Qt::Key_Delete, none, "", true, true, K::restoreSelected},
        {Qt::Key_Escape, none, "", false, false, K::none},
        {Qt::Key_Left, none, "", false, false, K::stepBack},
        {Qt::Key_Right, none, "", true, false, K::stepForward},
        {Qt::Key_S, Qt::ShiftModifier, "S", true, false, K::split},
        {Qt::Key_S, none, "", false, false, K::split}, // no characters: the key's letter
        {Qt::Key_I, none, "i", false, false, K::setInPoint},
        {Qt::Key_O, none, "o", true, false, K::setOutPoint},
        {Qt::Key_K, none, "k", false, false, K::togglePlayback},
        {Qt::Key_R, none, "r", false, false, K::none},
        {Qt::Key_F5, none, "", false, false, K::none},
        // Ctrl, Alt or Meta: on to the menus, whatever the key.
        {Qt::Key_I, Qt::ControlModifier, "\t", true, false, K::none},
        {Qt::Key_Space, Qt::AltModifier, " ", false, false, K::none},
        {Qt::Key_Delete, Qt::MetaModifier, "", true, false, K::none},
        {Qt::Key_Return, Qt::ControlModifier | Qt::ShiftModifier, "\r", false, false, K::none},
    };
    for (const auto& c : cases)
        EXPECT_EQ(
            editorKeyFor(c.key, c.modifiers, QString::fromLatin1(c.text), c.selected, c.removed),
            c.action)
            << std::hex << c.key << " " << c.modifiers.toInt() << " " << c.selected << c.removed;
    // Space in the window test pauses, and restarts at the end.
    EXPECT_EQ(playbackToggle(true, true), PlaybackToggle::pause);
    EXPECT_EQ(playbackToggle(false, false), PlaybackToggle::play);
}

TEST(UiTables, PositionDragMovesAcrossTheSlackAndTurnsRoundUnderMirror) {
    // A 1920 × 1080 source cropped to 1080 × 1080 (840 px of horizontal slack) in a 540-wide
    // tile shown at half size: k = 1080 ÷ (0.5 × 540) = 4 source pixels per point.
    const RectD tile{0, 0, 540, 540};
    const RectD crop{420, 0, 1080, 1080};
    const SizeD source{1920, 1080};
    const struct {
        double startX, startY, tx, ty;
        bool mirror;
        double x, y;
    } cases[] = {
        {0, 0, 105, 0, false, -1, 0},       // 420 px = half the slack → the full half range
        {0, 0, -52.5, 0, true, -0.5, 0},    // mirrored: the other way
        {0.5, 0.3, 500, 0, false, -1, 0.3}, // clamped; no vertical slack: y stays
        {-0.8, 0, -500, 300, true, -1, 0},  // clamped the other way under mirror
        {0.2, -0.4, 10.5, 80, false, 0.1, -0.4},
    };
    for (const auto& c : cases) {
        const auto p =
            draggedPosition({c.startX, c.startY}, tile, crop, source, 0.5, c.tx, c.ty, c.mirror);
        EXPECT_NEAR(p.x, c.x, 1e-9) << c.tx << " " << c.mirror;
        EXPECT_NEAR(p.y, c.y, 1e-9) << c.ty << " " << c.mirror;
    }
    // Vertical slack (a 9:16 crop of a 1080 × 1920 source, 1:1 view) moves y the same way.
    const auto p = draggedPosition({0, 0}, {0, 0, 1080, 1080}, {0, 420, 1080, 1080}, {1080, 1920},
                                   1, 0, -210, true);
    EXPECT_NEAR(p.x, 0, 1e-9);
    EXPECT_NEAR(p.y, 0.5, 1e-9);
    // One pixel of slack or less: the axis stays.
    EXPECT_EQ(draggedPosition({0.25, 0}, tile, {0, 0, 1919, 1080}, source, 1, 100, 0, false).x,
              0.25);

    // The picture fitted into the view: centred, aspect kept.
    EXPECT_EQ(fitInto({1920, 1080}, {960, 1000}).map({100, 100, 200, 50}),
              (RectD{50, 280, 100, 25})); // half size, 230 points down
    EXPECT_EQ(fitInto({1080, 1920}, {1000, 960}).map({0, 0, 2, 2}), (RectD{230, 0, 1, 1}));
    EXPECT_EQ(fitInto({0, 0}, {100, 100}).scale, 0);
}

TEST(UiTables, ExportTexts) {
    const struct {
        double fraction;
        const char* text;
    } percents[] = {{0, "0%"},      {0.005, "0%"}, {0.499, "49%"}, {0.5, "50%"},
                    {0.999, "99%"}, {1, "100%"},   {1.2, "100%"},  {-0.1, "0%"}};
    for (const auto& c : percents)
        EXPECT_EQ(percentText(c.fraction), QString::fromLatin1(c.text)) << c.fraction;
    EXPECT_EQ(saveFilter(ExportSettings::Format::audio), QStringLiteral("MPEG-4 audio (*.m4a)"));
    // The audio format's caption; while the preview updates, the caption says so instead.
    EXPECT_EQ(formatCaption(2, false), QStringLiteral("Just the sound, as M4A."));
    EXPECT_EQ(formatCaption(2, true), QStringLiteral("Updating preview…"));
}
