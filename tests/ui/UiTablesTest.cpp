// The window's pure parts, as tables.
#include "ui/Format.h"
#include "ui/KeyMonitor.h"
#include "ui/MeterScale.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <gtest/gtest.h>
#include <memory>

using namespace reelbox;
using namespace reelbox::ui;

TEST(UiTables, FormatDurationRoundsToWholeSecondsWithoutHours) {
    const struct {
        double seconds;
        const char* text;
    } cases[] = {{59.5, "1:00"}, {0, "0:00"},   {4500, "75:00"}, {59.49, "0:59"},
                 {61, "1:01"},   {0.5, "0:01"}, {-3, "0:00"},    {3599.6, "60:00"}};
    for (const auto& c : cases)
        EXPECT_EQ(formatDuration(c.seconds), QString::fromLatin1(c.text)) << c.seconds;
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
        {QDateTime(QDate(2026, 12, 1), QTime(8, 5), Qt::LocalTime), "Tuesday, 08:05"},
        {QDateTime(QDate(2026, 11, 29), QTime(8, 5), Qt::LocalTime), "Sunday, 08:05"},
        {QDateTime(QDate(2026, 11, 28), QTime(8, 5), Qt::LocalTime), "28/11/2026"},
        {QDateTime(QDate(2025, 3, 1), QTime(8, 5), Qt::LocalTime), "01/03/2025"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(relativeDate(c.when, now, english), QString::fromUtf8(c.text)) << c.text;
}

TEST(UiTables, KeyMonitorPassesModifiedKeysAndTextEntryOnly) {
    QComboBox editable;
    editable.setEditable(true);
    const std::unique_ptr<QWidget> widgets[] = {
        std::make_unique<QLineEdit>(),   std::make_unique<QSpinBox>(),
        std::make_unique<QTextEdit>(),   std::make_unique<QPlainTextEdit>(),
        std::make_unique<QComboBox>(),   std::make_unique<QListView>(),
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
        {widgets[2].get(), Qt::NoModifier, true},
        {widgets[3].get(), Qt::ShiftModifier, true},
        {&editable, Qt::NoModifier, true},
        {widgets[4].get(), Qt::NoModifier, false}, // a combo box that can't be typed into
        {widgets[5].get(), Qt::NoModifier, false},
        {widgets[5].get(), Qt::ControlModifier, true},
        {widgets[6].get(), Qt::NoModifier, false},
        {widgets[6].get(), Qt::KeypadModifier, false},
    };
    int i = 0;
    for (const auto& c : cases)
        EXPECT_EQ(KeyMonitor::passesThrough(c.modifiers, c.focus), c.passes) << "case " << i++;
}
