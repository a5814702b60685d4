#include "ui/TrackEffectsPopover.h"

#include "edit/Group.h"
#include "edit/TakeEditorModel.h"
#include "ui/LabeledSlider.h"
#include "ui/MixerStyle.h"
#include "ui/SwitchSection.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace reelbox::ui {

TrackEffectsPopover::TrackEffectsPopover(TakeEditorModel& model, const QUuid& trackId,
                                         QWidget* parent)
    : Popover(360, parent), m_model(model), m_trackId(trackId), m_name(new QLineEdit(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 20, 14, 20);
    column->setSpacing(14);
    m_name->setAccessibleName(QStringLiteral("Name"));
    m_name->setPlaceholderText(QStringLiteral("Name"));
    m_name->setFont(mixerFont(TextStyle::headline, font()));
    column->addWidget(m_name);
    connect(m_name, &QLineEdit::textEdited, this,
            [this](const QString& name) { m_model.renameTrack(m_trackId, name); });

    column->addWidget(buildEq());
    column->addWidget(buildCompressor());
    column->addWidget(buildReverb());
    const Track* track = model.track(trackId);
    if (track && !track->source.isInput())
        column->addWidget(buildOverdub(track->source.overdubId));
    connect(&model, &TakeEditorModel::takeChanged, this, &TrackEffectsPopover::showTrack);
    showTrack();
}

void TrackEffectsPopover::change(const std::function<void(Track&)>& edit) {
    m_model.updateTrack(m_trackId, edit);
}

LabeledSlider* TrackEffectsPopover::effectSlider(SwitchSection* section, const QString& title,
                                                 double lower, double upper, double defaultValue,
                                                 const QString& unit,
                                                 const std::function<void(Track&, double)>& write,
                                                 bool logarithmic) {
    auto* slider =
        new LabeledSlider(title, {lower, upper}, defaultValue, unit, logarithmic, section);
    section->addWidget(slider);
    connect(slider, &LabeledSlider::committed, this,
            [this, write](double value) { change([&](Track& t) { write(t, value); }); });
    return slider;
}

SwitchSection* TrackEffectsPopover::buildEq() {
    m_eq = new SwitchSection(QStringLiteral("EQ"), true, {}, this);
    connect(m_eq, &SwitchSection::switched, this,
            [this](bool on) { change([on](Track& t) { t.effects.eqEnabled = on; }); });
    m_lowCut = new QCheckBox(QStringLiteral("Low cut (removes rumble)"), m_eq);
    m_eq->addWidget(m_lowCut);
    connect(m_lowCut, &QCheckBox::clicked, this,
            [this](bool on) { change([on](Track& t) { t.effects.lowCut = on; }); });
    const QString dB = QStringLiteral("dB");
    m_bass = effectSlider(m_eq, QStringLiteral("Bass"), -12, 12, 0, dB,
                          [](Track& t, double v) { t.effects.lowGain = v; });
    m_mid = effectSlider(m_eq, QStringLiteral("Mid"), -12, 12, 0, dB,
                         [](Track& t, double v) { t.effects.midGain = v; });
    m_treble = effectSlider(m_eq, QStringLiteral("Treble"), -12, 12, 0, dB,
                            [](Track& t, double v) { t.effects.highGain = v; });
    m_midFrequency = effectSlider(
        m_eq, QStringLiteral("Mid freq"), 200, 5000, 800, QStringLiteral("Hz"),
        [](Track& t, double v) { t.effects.midFrequency = v; }, true);
    return m_eq;
}

SwitchSection* TrackEffectsPopover::buildCompressor() {
    m_compressor = new SwitchSection(QStringLiteral("Compressor"), true, {}, this);
    connect(m_compressor, &SwitchSection::switched, this,
            [this](bool on) { change([on](Track& t) { t.effects.compressorEnabled = on; }); });
    m_compression =
        effectSlider(m_compressor, QStringLiteral("Amount"), 0, 1, 0.4, QStringLiteral("%"),
                     [](Track& t, double v) { t.effects.compression = v; });
    return m_compressor;
}

SwitchSection* TrackEffectsPopover::buildReverb() {
    auto* reverb = new SwitchSection(QStringLiteral("Reverb"), false, {}, this);
    auto* row = new QWidget(reverb);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(QStringLiteral("Space"), row);
    m_room = new QComboBox(row);
    label->setBuddy(m_room);
    m_room->setAccessibleName(QStringLiteral("Space"));
    for (ReverbRoom room : allReverbRooms)
        m_room->addItem(rawString(room), int(room));
    layout->addWidget(label);
    layout->addWidget(m_room, 1);
    reverb->addWidget(row);
    connect(m_room, &QComboBox::activated, this, [this](int index) {
        const auto room = ReverbRoom(m_room->itemData(index).toInt());
        change([room](Track& t) { t.effects.reverbRoom = room; });
    });
    m_reverbSend = effectSlider(reverb, QStringLiteral("Amount"), 0, 1, 0, QStringLiteral("%"),
                                [](Track& t, double v) { t.effects.reverbSend = v; });
    return reverb;
}

SwitchSection* TrackEffectsPopover::buildOverdub(const QUuid& overdubId) {
    m_overdubId = overdubId;
    auto* section = new SwitchSection(QStringLiteral("Overdub"), false, {}, this);
    m_timing = new LabeledSlider(QStringLiteral("Timing"), {-0.5, 0.5}, 0, QStringLiteral("ms"),
                                 false, section);
    section->addWidget(m_timing);
    connect(m_timing, &LabeledSlider::committed, this, [this](double nudge) {
        m_model.updateOverdub(m_overdubId, [nudge](Overdub& o) { o.nudge = nudge; });
    });
    auto* note = new QLabel(
        QStringLiteral("Move it earlier (−) if it sounds late. Remembered for this audio device."),
        section);
    note->setWordWrap(true);
    note->setFont(mixerFont(TextStyle::caption, font()));
    setSecondary(note);
    section->addWidget(note);
    const Overdub* overdub = m_model.take().info.overdub(overdubId);
    if (overdub && overdub->hasVideo) {
        m_showVideo = new QCheckBox(QStringLiteral("Show video"), section);
        section->addWidget(m_showVideo);
        connect(m_showVideo, &QCheckBox::clicked, this,
                [this](bool on) { m_model.setVideoShown(Group::overdub(m_overdubId), on); });
    }
    m_trash = new QPushButton(QStringLiteral("Move Overdub to Trash"), section);
    QPalette destructive = m_trash->palette();
    destructive.setColor(QPalette::ButtonText, QColor(0xff453a));
    m_trash->setPalette(destructive);
    section->addWidget(m_trash);
    connect(m_trash, &QPushButton::clicked, this, [this] {
        hide();
        m_model.deleteOverdub(m_overdubId);
    });
    return section;
}

void TrackEffectsPopover::showTrack() {
    const Track* track = m_model.track(m_trackId);
    if (!track) {
        hide(); // deleted with its overdub
        return;
    }
    if (!m_name->hasFocus() && m_name->text() != track->name)
        m_name->setText(track->name);
    const TrackEffects& fx = track->effects;
    m_eq->setOn(fx.eqEnabled);
    m_lowCut->setChecked(fx.lowCut);
    m_bass->setValue(fx.lowGain);
    m_mid->setValue(fx.midGain);
    m_treble->setValue(fx.highGain);
    m_midFrequency->setValue(fx.midFrequency);
    m_compressor->setOn(fx.compressorEnabled);
    m_compression->setValue(fx.compression);
    m_room->setCurrentIndex(m_room->findData(int(fx.reverbRoom)));
    m_reverbSend->setValue(fx.reverbSend);
    if (const Overdub* overdub = m_model.take().info.overdub(m_overdubId)) {
        m_timing->setValue(overdub->nudge);
        if (m_showVideo)
            m_showVideo->setChecked(overdub->showVideo);
    }
}

} // namespace reelbox::ui
