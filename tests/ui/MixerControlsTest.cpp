// The mixer controls: their pure maths and texts as tables, then the widgets on the real model.
#include "ui/LabeledSlider.h"
#include "ui/MasterRacks.h"
#include "ui/MixerMath.h"
#include "ui/MixerText.h"
#include "ui/PanKnob.h"
#include "ui/PillButton.h"
#include "ui/Popover.h"
#include "ui/RackButton.h"
#include "ui/SwitchSection.h"
#include "ui/TrackEffectsPopover.h"
#include "ui/TrackHeader.h"
#include "ui/UiTestSupport.h"
#include "ui/ValueSlider.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <set>

using namespace reelbox;
using namespace reelbox::ui;

TEST(MixerTables, ReadoutsCaptionsAndHelp) {
    const struct {
        double value;
        const char* unit;
        const char* text;
    } cases[] = {
        {1234, "Hz", "1.2k"},      {800, "Hz", "800"},    {1000, "Hz", "1.0k"},
        {999.4, "Hz", "999"},      {200, "Hz", "200"},    {5000, "Hz", "5.0k"},
        {-0.0404, "ms", "-40 ms"}, {0, "ms", "+0 ms"},    {0.5, "ms", "+500 ms"},
        {0.4, "%", "40%"},         {1, "%", "100%"},      {0, "%", "0%"},
        {0, "dB", "+0.0"},         {-3.26, "dB", "-3.3"}, {12, "dB", "+12.0"},
        {1.234, "s", "1.23"},      {2, "", "2.00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sliderReadout(c.value, QString::fromUtf8(c.unit)), QString::fromUtf8(c.text))
            << c.value << " " << c.unit;

    const struct {
        QString text, expected;
    } captions[] = {
        {boostedCaption(true, 6.04), "Boosted +6.0 dB"},
        {boostedCaption(true, 18), "Boosted +18.0 dB (the most it will boost)"},
        {boostedCaption(true, 17.96), "Boosted +18.0 dB"},
        {boostedCaption(true, -2.5), "Boosted -2.5 dB"},
        {boostedCaption(false, 6), ""},
        {boostedCaption(true, std::nullopt), ""},
        {trackVolumeHelp(-3.4), "Volume -3 dB (right-click to reset)"},
        {trackVolumeHelp(0), "Volume +0 dB (right-click to reset)"},
        {effectsHelp(true), "EQ, compressor, reverb and timing"},
        {outputSizeText(1080, 1920), "1080 × 1920"},
        {outputSizeText(0, 0), ""},
    };
    for (const auto& c : captions)
        EXPECT_EQ(c.text, c.expected) << c.expected.toStdString();
}

TEST(MixerTables, SliderStepsAreLinearOrLogarithmicAndHeldInTheRange) {
    const ValueRange volume{-24, 12}, frequency{200, 5000};
    const struct {
        double value;
        ValueRange range;
        bool logarithmic;
        int step;
    } cases[] = {
        {0, volume, false, 667},       {-24, volume, false, 0},
        {12, volume, false, 1000},     {-30, volume, false, 0},
        {800, frequency, true, 431},   {1000, frequency, true, 500}, // √(200 × 5000)
        {200, frequency, true, 0},     {5000, frequency, true, 1000},
        {100, frequency, true, 0},     {9000, frequency, true, 1000},
        {2600, frequency, false, 500}, {2600, frequency, true, 797},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sliderStep(c.value, c.range, c.logarithmic, 1000), c.step)
            << c.value << (c.logarithmic ? " log" : " linear");

    EXPECT_NEAR(valueAtStep(500, frequency, true, 1000), 1000, 1e-9); // √(200 × 5000)
    EXPECT_DOUBLE_EQ(valueAtStep(1200, volume, false, 1000), 12);
    EXPECT_DOUBLE_EQ(valueAtStep(250, volume, false, 1000), -15);
    // There and back lands within one step.
    for (double hz : {200.0, 333.0, 800.0, 1234.0, 5000.0}) {
        const double back =
            valueAtStep(sliderStep(hz, frequency, true, 1000), frequency, true, 1000);
        EXPECT_NEAR(std::log10(back), std::log10(hz), std::log10(25.0) / 1000) << hz;
    }
}

TEST(MixerTables, PanLabelAndDrag) {
    const struct {
        double pan;
        const char* label;
    } labels[] = {{0, "C"},     {0.0049, "C"}, {-0.0049, "C"}, {0.005, "R1"},  {-0.006, "L1"},
                  {-1, "L100"}, {1, "R100"},   {0.42, "R42"},  {-0.256, "L26"}};
    for (const auto& c : labels)
        EXPECT_EQ(panLabel(c.pan), QString::fromLatin1(c.label)) << c.pan;

    // Right and up turn right, 100 points for a whole side, held within -1 … 1.
    const struct {
        double start, dx, dy, pan;
    } drags[] = {{0, 10, 0, 0.1},  {0, 0, -10, 0.1},    {0, 0, 10, -0.1}, {0.2, 5, 5, 0.2},
                 {0.5, 100, 0, 1}, {-0.5, -30, 20, -1}, {0, -250, 0, -1}, {-1, 40, -60, 0}};
    for (const auto& c : drags)
        EXPECT_NEAR(panAfterDrag(c.start, c.dx, c.dy), c.pan, 1e-12)
            << c.start << " " << c.dx << " " << c.dy;
    EXPECT_DOUBLE_EQ(panAngleDegrees(1), 135);
    EXPECT_DOUBLE_EQ(panAngleDegrees(-0.5), -67.5);
}

namespace {

// A mouse event with the held buttons stated, as a real drag sends them.
void mouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons held) {
    QMouseEvent event(type, at, w->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// Presses at `from` and moves to `to` in small steps, holding the button; the caller releases.
void dragTo(QWidget* w, QPoint from, QPoint to) {
    mouse(w, QEvent::MouseButtonPress, from, Qt::LeftButton);
    for (int i = 1; i <= 8; ++i)
        mouse(w, QEvent::MouseMove, from + (to - from) * i / 8, Qt::LeftButton);
}

// A click on a check box's box (a wide one's middle may lie past its text).
void clickBox(QAbstractButton* box) {
    ASSERT_NE(box, nullptr);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
}

QAccessibleValueInterface* valueOf(QWidget* w) {
    return QAccessible::queryAccessibleInterface(w)->valueInterface();
}

template <class T> T* named(QWidget* root, const QString& name) {
    for (T* w : root->findChildren<T*>())
        if (w->accessibleName() == name || w->property("text").toString() == name)
            return w;
    return nullptr;
}

class MixerControlsTest : public test::EditorWidgetTest {};

} // namespace

TEST_F(MixerControlsTest, ADragWritesOnlyWhenItEnds) {
    open();
    TrackHeader header(*model, track(1).id);
    header.resize(420, 76);
    header.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&header));

    // The volume: dragged left, nothing is written until the release.
    ValueSlider* volume = header.volumeSlider();
    const QPoint knob = volume->handleRect().center();
    dragTo(volume, knob, knob - QPoint(volume->width() / 4, 0));
    ASSERT_TRUE(volume->draft().has_value());
    const double draft = *volume->draft();
    EXPECT_LT(draft, -3);
    EXPECT_EQ(volume->toolTip(), trackVolumeHelp(draft));
    EXPECT_DOUBLE_EQ(valueOf(volume)->currentValue().toDouble(), draft);
    EXPECT_EQ(track(1).volumeDB, 0);
    mouse(volume, QEvent::MouseButtonRelease, knob - QPoint(volume->width() / 4, 0), {});
    EXPECT_FALSE(volume->draft().has_value());
    EXPECT_DOUBLE_EQ(track(1).volumeDB, draft);

    // The pan: 30 right and 10 up is R40, written at the release; a double-click centres it.
    PanKnob* pan = header.panKnob();
    const QPoint centre(pan->width() / 2, 11);
    dragTo(pan, centre, centre + QPoint(30, -10));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(pan)->text(QAccessible::Value), "R40");
    EXPECT_EQ(track(1).pan, 0);
    mouse(pan, QEvent::MouseButtonRelease, centre + QPoint(30, -10), {});
    EXPECT_NEAR(track(1).pan, 0.4, 1e-12);
    QTest::mouseDClick(pan, Qt::LeftButton, {}, centre);
    EXPECT_EQ(track(1).pan, 0);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(pan)->text(QAccessible::Value), "C");

    // The context menus: "Reset Volume" on the slider, "Delete Track" on the header.
    header.resetVolumeAction()->trigger();
    EXPECT_EQ(track(1).volumeDB, 0);
    EXPECT_EQ(volume->value(), 0);
    EXPECT_TRUE(volume->actions().contains(header.resetVolumeAction()));
    EXPECT_TRUE(header.actions().contains(header.deleteAction()));
    const QUuid doomed = track(1).id;
    header.deleteAction()->trigger();
    EXPECT_EQ(model->track(doomed), nullptr);
    EXPECT_FALSE(header.isEnabled());
    settle();
}

TEST_F(MixerControlsTest, TheMasterRacksWriteTheMasterAndThePicture) {
    open();
    MasterRacks racks(*model);
    racks.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&racks));
    RackButton* volumeRack = racks.volumeRack();
    QTest::mouseClick(volumeRack->labelButton(), Qt::LeftButton);

    // Normalize is on and the first mix reported its gain: the caption says so.
    ASSERT_TRUE(model->normalizeGainDB().has_value());
    auto* caption =
        named<QLabel>(volumeRack->popover(), boostedCaption(true, model->normalizeGainDB()));
    ASSERT_NE(caption, nullptr);
    EXPECT_TRUE(caption->isVisible());
    clickBox(named<QCheckBox>(volumeRack->popover(), "Make it loud (normalize)"));
    EXPECT_FALSE(model->master().normalize);
    EXPECT_FALSE(caption->isVisible());
    // An assistant sets the volume as a finished drag does.
    auto* volume = named<ValueSlider>(volumeRack->popover(), "Volume");
    valueOf(volume)->setCurrentValue(-6.0);
    EXPECT_DOUBLE_EQ(model->master().volumeDB, -6);
    settle();

    // Frame: the aspect and the output size it gives.
    volumeRack->popover()->hide();
    Popover* frame = racks.frameRack()->popover();
    racks.frameRack()->openPopover();
    QTest::mouseClick(named<QToolButton>(frame, "9:16"), Qt::LeftButton);
    EXPECT_EQ(model->exportSettings().aspect, ExportSettings::Aspect::portrait);
    auto* size =
        named<QLabel>(frame, outputSizeText(model->renderSize().width, model->renderSize().height));
    ASSERT_NE(size, nullptr);
    clickBox(named<QCheckBox>(frame, "Mirror"));
    EXPECT_TRUE(model->exportSettings().mirror);
    model->setPosition({0.5, -0.25}, Lane::mainVideo());
    QTest::mouseClick(named<QPushButton>(frame, "Center All"), Qt::LeftButton);
    EXPECT_TRUE(model->exportSettings().positions.empty());

    // Layout: a radio group.
    frame->hide();
    racks.layoutRack()->openPopover();
    QTest::mouseClick(named<QRadioButton>(racks.layoutRack()->popover(), "Picture in Picture"),
                      Qt::LeftButton, {}, QPoint(6, 6));
    EXPECT_EQ(model->exportSettings().layout, ExportSettings::VideoLayout::pip);
    // A change from elsewhere shows.
    ExportSettings settings = model->exportSettings();
    settings.layout = ExportSettings::VideoLayout::main;
    model->setExportSettings(settings);
    EXPECT_TRUE(named<QRadioButton>(racks.layoutRack()->popover(), "Main Only")->isChecked());
    settle();
}

TEST(MixerRack, ASwitchedOffRackSaysOffAndDimsItsControls) {
    RackButton rack("Echo", "configure", true);
    auto* control = new QCheckBox("Long", rack.body());
    rack.body()->addWidget(control);
    QSignalSpy switched(&rack, &RackButton::switched);
    ASSERT_NE(rack.powerButton(), nullptr);
    EXPECT_TRUE(rack.isLit());
    QTest::mouseClick(rack.powerButton(), Qt::LeftButton);
    EXPECT_FALSE(rack.isLit());
    EXPECT_EQ(rack.labelButton()->toolTip(), "Echo off");
    EXPECT_FALSE(control->isEnabled());
    EXPECT_FALSE(rack.body()->toggle()->isChecked());
    rack.setOn(true); // from the model: no signal
    EXPECT_TRUE(control->isEnabled());
    EXPECT_EQ(rack.labelButton()->toolTip(), "Echo");
    ASSERT_EQ(switched.count(), 1);
    EXPECT_FALSE(switched.at(0).at(0).toBool());
}

TEST_F(MixerControlsTest, TheTimelinesHeadersAndTheEffectsPopoverEditTheTrackAndItsOverdub) {
    open(1);
    const QUuid id = model->take().info.tracks.back().id; // the overdub's
    showTimeline();
    TrackHeader* header = this->header(id);
    ASSERT_NE(header, nullptr);
    TrackHeader* first = this->header(track(0).id);
    ASSERT_NE(first, nullptr);
    QTest::mouseClick(first->muteButton(), Qt::LeftButton);
    EXPECT_TRUE(track(0).muted);
    EXPECT_TRUE(first->muteButton()->isOn());
    QTest::mouseClick(this->header(track(1).id)->soloButton(), Qt::LeftButton);
    EXPECT_TRUE(track(1).solo);
    model->updateTrack(track(0).id, [](Track& t) { t.muted = false; });
    EXPECT_FALSE(first->muteButton()->isOn());

    EXPECT_EQ(header->effectsButton()->toolTip(), effectsHelp(true));
    EXPECT_EQ(first->effectsButton()->toolTip(), effectsHelp(false));
    QTest::mouseClick(header->effectsButton(), Qt::LeftButton);
    TrackEffectsPopover* fx = header->effectsPopover();
    ASSERT_NE(fx, nullptr);
    EXPECT_TRUE(fx->isVisible());
    EXPECT_TRUE(header->effectsButton()->isOn());
    const auto fxTrack = [&] { return model->track(id)->effects; };

    // EQ is off: its controls wait, dimmed, until the switch turns it on.
    LabeledSlider* midFrequency = fx->midFrequencySlider();
    EXPECT_FALSE(midFrequency->isEnabled());
    QTest::mouseClick(fx->eqSection()->toggle(), Qt::LeftButton);
    EXPECT_TRUE(fxTrack().eqEnabled);
    EXPECT_TRUE(midFrequency->isEnabled());
    valueOf(midFrequency->slider())->setCurrentValue(1234.0);
    EXPECT_DOUBLE_EQ(fxTrack().midFrequency, 1234);
    EXPECT_EQ(midFrequency->readout(), "1.2k");
    // A double-click on a slider resets it to its default.
    QTest::mouseDClick(midFrequency->slider(), Qt::LeftButton, {},
                       midFrequency->slider()->handleRect().center());
    EXPECT_DOUBLE_EQ(fxTrack().midFrequency, 800);
    EXPECT_EQ(midFrequency->readout(), "800");
    clickBox(named<QCheckBox>(fx, "Low cut (removes rumble)"));
    EXPECT_TRUE(fxTrack().lowCut);

    auto* room = named<QComboBox>(fx, "Space");
    EXPECT_EQ(room->currentText(), "Medium Room");
    room->setCurrentIndex(room->findText("Cathedral"));
    emit room->activated(room->currentIndex());
    EXPECT_EQ(fxTrack().reverbRoom, ReverbRoom::cathedral);

    fx->nameField()->selectAll();
    QTest::keyClicks(fx->nameField(), "Guitar");
    EXPECT_EQ(model->track(id)->name, "Guitar");

    // The overdub's timing, written to the overdub; the video switch.
    ASSERT_NE(fx->timingSlider(), nullptr);
    valueOf(fx->timingSlider()->slider())->setCurrentValue(-0.0404);
    EXPECT_DOUBLE_EQ(model->take().info.overdubs.at(0).nudge, -0.0404);
    EXPECT_EQ(fx->timingSlider()->readout(), "-40 ms");
    clickBox(named<QCheckBox>(fx, "Show video"));
    EXPECT_FALSE(model->take().info.overdubs.at(0).showVideo);
    settle();

    // A track of the take itself has no overdub section.
    fx->hide();
    EXPECT_FALSE(header->effectsButton()->isOn());
    QTest::mouseClick(first->effectsButton(), Qt::LeftButton);
    EXPECT_EQ(first->effectsPopover()->timingSlider(), nullptr);
    first->effectsPopover()->hide();

    // Moving the overdub to the Trash takes its tracks, and their headers, with it.
    header->openEffects();
    QTest::mouseClick(fx->trashButton(), Qt::LeftButton);
    EXPECT_TRUE(model->take().info.overdubs.empty());
    EXPECT_EQ(this->header(id), nullptr);
    EXPECT_EQ(timeline->headers()->findChildren<TrackHeader*>().size(),
              qsizetype(model->take().info.tracks.size()));
    settle();
}

TEST_F(MixerControlsTest, EveryControlIsNamedWithItsHelpAndItsValue) {
    open();
    model->updateTrack(track(0).id, [](Track& t) {
        t.volumeDB = -6;
        t.pan = -0.3;
    });
    TrackHeader header(*model, track(0).id);
    MasterRacks racks(*model);
    header.show();
    racks.show();
    for (RackButton* rack : {racks.volumeRack(), racks.frameRack(), racks.layoutRack()})
        rack->openPopover();
    header.openEffects();
    QWidget* volume = racks.volumeRack()->popover();
    QWidget* frame = racks.frameRack()->popover();
    QWidget* layout = racks.layoutRack()->popover();
    QWidget* fx = header.effectsPopover();

    const struct {
        QWidget* root;
        QAccessible::Role role;
        const char* name;
        bool help; // a tooltip
        std::optional<double> value;
    } controls[] = {
        {&header, QAccessible::CheckBox, "Mute", true, {}}, // the pills are toggles
        {&header, QAccessible::CheckBox, "Solo", true, {}},
        {&header, QAccessible::Slider, "Volume", true, -6},
        {&header, QAccessible::Dial, "Pan", true, -0.3},
        {&header, QAccessible::Button, "Effects", true, {}},
        {&racks, QAccessible::Button, "Volume", true, {}},
        {&racks, QAccessible::Button, "Frame", true, {}},
        {&racks, QAccessible::Button, "Layout", true, {}},
        {volume, QAccessible::Slider, "Volume", true, 0},
        {volume, QAccessible::CheckBox, "Make it loud (normalize)", false, {}},
        {frame, QAccessible::CheckBox, "16:9", false, {}}, // a segment
        {frame, QAccessible::CheckBox, "Mirror", false, {}},
        {frame, QAccessible::Button, "Center All", false, {}},
        {layout, QAccessible::RadioButton, "Side by Side", false, {}},
        {fx, QAccessible::EditableText, "Name", true, {}}, // its placeholder
        {fx, QAccessible::CheckBox, "EQ", false, {}},
        {fx, QAccessible::Slider, "Mid freq", true, 800},
        {fx, QAccessible::CheckBox, "Compressor", false, {}},
        {fx, QAccessible::Slider, "Amount", true, 0.4},
        {fx, QAccessible::ComboBox, "Space", false, {}},
    };
    for (const auto& c : controls) {
        QAccessibleInterface* found = test::findAccessible(c.root, c.role, c.name);
        ASSERT_NE(found, nullptr) << c.name;
        EXPECT_EQ(found->text(QAccessible::Description).isEmpty(), !c.help) << c.name;
        if (c.value) {
            ASSERT_NE(found->valueInterface(), nullptr) << c.name;
            EXPECT_NEAR(found->valueInterface()->currentValue().toDouble(), *c.value, 1e-9)
                << c.name;
        }
    }
    EXPECT_EQ(
        test::findAccessible(&header, QAccessible::Slider, "Volume")->text(QAccessible::Value),
        "-6.0");

    // Nothing a user can operate is left without a name.
    const std::set<QAccessible::Role> operable = {
        QAccessible::Button, QAccessible::CheckBox, QAccessible::RadioButton, QAccessible::Slider,
        QAccessible::Dial,   QAccessible::ComboBox, QAccessible::EditableText};
    for (QWidget* root :
         std::initializer_list<QWidget*>{&header, &racks, fx, volume, frame, layout})
        test::walkAccessible(
            QAccessible::queryAccessibleInterface(root), [&](QAccessibleInterface* e) {
                if (operable.count(e->role())) {
                    EXPECT_FALSE(e->text(QAccessible::Name).isEmpty()) << int(e->role());
                }
            });
    settle();
}
