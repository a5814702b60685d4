#include "ui/TrackHeader.h"

#include "edit/TakeEditorModel.h"
#include "ui/MixerStyle.h"
#include "ui/MixerText.h"
#include "ui/PanKnob.h"
#include "ui/PillButton.h"
#include "ui/TrackEffectsPopover.h"
#include "ui/ValueSlider.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace reelbox::ui {

TrackHeader::TrackHeader(TakeEditorModel& model, const QUuid& trackId, QWidget* parent)
    : QWidget(parent), m_model(model), m_trackId(trackId), m_name(new QLabel(this)),
      m_mute(new PillButton(QStringLiteral("audio-volume-muted"), QColor(mixerColors::mute),
                            Qt::black, this)),
      m_solo(new PillButton(QStringLiteral("audio-headphones"), QColor(mixerColors::solo),
                            Qt::black, this)),
      m_volume(new ValueSlider({-40, 12}, false, this)), m_pan(new PanKnob(this)),
      m_effects(new PillButton(QStringLiteral("configure"), accentColor(this), Qt::white, this)),
      m_resetVolume(new QAction(QStringLiteral("Reset Volume"), m_volume)),
      m_delete(new QAction(QStringLiteral("Delete Track"), this)) {
    setFixedHeight(fixedHeight);
    const Track* track = model.track(trackId);
    const bool overdub = track && !track->source.isInput();
    m_tint = overdub ? QColor(mixerColors::overdub) : accentColor(this);

    QPalette tinted = m_name->palette();
    tinted.setColor(QPalette::WindowText, m_tint);
    m_name->setPalette(tinted);
    m_name->setFont(mixerFont(TextStyle::subheadline, font()));
    m_name->setMinimumWidth(40);
    m_mute->setCheckable(true);
    m_mute->setAccessibleName(QStringLiteral("Mute"));
    m_mute->setToolTip(QStringLiteral("Silence this track"));
    m_solo->setCheckable(true);
    m_solo->setAccessibleName(QStringLiteral("Solo"));
    m_solo->setToolTip(QStringLiteral("Hear only this track (and other soloed ones)"));
    m_volume->setAccessibleName(QStringLiteral("Volume"));
    m_volume->setUnit(QStringLiteral("dB"));
    m_volume->setMinimumWidth(60);
    m_volume->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_volume->addAction(m_resetVolume);
    m_effects->setAccessibleName(QStringLiteral("Effects"));
    m_effects->setToolTip(effectsHelp(overdub));
    setContextMenuPolicy(Qt::ActionsContextMenu);
    addAction(m_delete);

    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    top->addWidget(m_name, 1);
    top->addWidget(m_effects);
    auto* controls = new QHBoxLayout;
    controls->setSpacing(6);
    controls->addWidget(m_mute);
    controls->addWidget(m_solo);
    controls->addWidget(m_volume, 1);
    controls->addWidget(m_pan);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 8, 14, 8);
    column->setSpacing(2);
    column->addLayout(top);
    column->addLayout(controls);

    connect(m_mute, &PillButton::clicked, this,
            [this](bool on) { change([on](Track& t) { t.muted = on; }); });
    connect(m_solo, &PillButton::clicked, this,
            [this](bool on) { change([on](Track& t) { t.solo = on; }); });
    connect(m_volume, &ValueSlider::shownValueChanged, this,
            [this](double db) { m_volume->setToolTip(trackVolumeHelp(db)); });
    connect(m_volume, &ValueSlider::committed, this,
            [this](double db) { change([db](Track& t) { t.volumeDB = db; }); });
    connect(m_resetVolume, &QAction::triggered, this,
            [this] { change([](Track& t) { t.volumeDB = 0; }); });
    connect(m_pan, &PanKnob::committed, this,
            [this](double pan) { change([pan](Track& t) { t.pan = pan; }); });
    connect(m_effects, &PillButton::clicked, this, &TrackHeader::openEffects);
    connect(m_delete, &QAction::triggered, this, [this] { m_model.deleteTrack(m_trackId); });
    connect(&model, &TakeEditorModel::takeChanged, this, &TrackHeader::showTrack);
    showTrack();
}

void TrackHeader::change(const std::function<void(Track&)>& edit) {
    m_model.updateTrack(m_trackId, edit);
}

void TrackHeader::showTrack() {
    const Track* track = m_model.track(m_trackId);
    setEnabled(track != nullptr);
    if (!track)
        return;
    m_name->setText(track->name);
    m_mute->setChecked(track->muted);
    m_solo->setChecked(track->solo);
    m_volume->setValue(track->volumeDB);
    m_volume->setToolTip(trackVolumeHelp(m_volume->shownValue()));
    m_pan->setPan(track->pan);
}

void TrackHeader::openEffects() {
    if (!m_popover) {
        m_popover = new TrackEffectsPopover(m_model, m_trackId, this);
        connect(m_popover, &Popover::closed, this, [this] { m_effects->setLit(false); });
    }
    m_popover->toggleUnder(m_effects);
    m_effects->setLit(m_popover->isVisible());
}

void TrackHeader::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, 3, height()), m_tint); // the track's colour at its edge
}

} // namespace reelbox::ui
