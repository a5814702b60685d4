#include "ui/MasterRacks.h"

#include "edit/TakeEditorModel.h"
#include "ui/LabeledSlider.h"
#include "ui/MixerStyle.h"
#include "ui/MixerText.h"
#include "ui/RackButton.h"
#include "ui/SwitchSection.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

namespace reelbox::ui {

namespace {
QLabel* caption(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFont(mixerFont(TextStyle::caption, parent->font()));
    setSecondary(label);
    return label;
}
} // namespace

MasterRacks::MasterRacks(TakeEditorModel& model, QWidget* parent)
    : QWidget(parent), m_model(model),
      m_volumeRack(new RackButton(QStringLiteral("Volume"), QStringLiteral("audio-volume-high"),
                                  false, this)),
      m_frameRack(
          new RackButton(QStringLiteral("Frame"), QStringLiteral("transform-crop"), false, this)),
      m_layoutRack(new RackButton(QStringLiteral("Layout"), QStringLiteral("view-split-left-right"),
                                  false, this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    for (RackButton* rack : {m_volumeRack, m_frameRack, m_layoutRack})
        row->addWidget(rack);
    row->addStretch(1);
    buildVolume();
    buildFrame();
    buildLayout();
    connect(&model, &TakeEditorModel::takeChanged, this, &MasterRacks::showTake);
    connect(&model, &TakeEditorModel::normalizeGainDBChanged, this, &MasterRacks::showBoost);
    connect(&model, &TakeEditorModel::renderSizeChanged, this, &MasterRacks::showSize);
    showTake();
    showSize();
}

void MasterRacks::buildVolume() {
    QWidget* parent = m_volumeRack->body();
    m_volume = new LabeledSlider(QStringLiteral("Volume"), {-24, 12}, 0, QStringLiteral("dB"),
                                 false, parent);
    m_normalize = new QCheckBox(QStringLiteral("Make it loud (normalize)"), parent);
    m_boost = caption({}, parent);
    for (QWidget* w : std::initializer_list<QWidget*>{m_volume, m_normalize, m_boost})
        m_volumeRack->body()->addWidget(w);
    connect(m_volume, &LabeledSlider::committed, this, [this](double db) {
        MasterSettings master = m_model.master();
        master.volumeDB = db;
        m_model.setMaster(master);
    });
    connect(m_normalize, &QCheckBox::clicked, this, [this](bool on) {
        MasterSettings master = m_model.master();
        master.normalize = on;
        m_model.setMaster(master);
    });
}

void MasterRacks::buildFrame() {
    QWidget* parent = m_frameRack->body();
    auto* picker = new QWidget(parent);
    auto* segments = new QHBoxLayout(picker);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    picker->setStyleSheet(QStringLiteral(
        "QToolButton { padding: 3px; } QToolButton:checked { background: palette(highlight); }"));
    m_aspects = new QButtonGroup(this);
    for (ExportSettings::Aspect aspect : allAspects) {
        auto* segment = new QToolButton(picker);
        segment->setText(rawString(aspect));
        segment->setAccessibleName(rawString(aspect));
        segment->setCheckable(true);
        segment->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        m_aspects->addButton(segment, int(aspect));
        segments->addWidget(segment);
    }
    m_size = new QLabel(parent);
    m_size->setFont(mixerFont(TextStyle::monospacedCaption, font()));
    setSecondary(m_size);
    m_mirror = new QCheckBox(QStringLiteral("Mirror"), parent);
    auto* center = new QPushButton(QStringLiteral("Center All"), parent);
    QLabel* hint =
        caption(QStringLiteral("Drag a video in the preview to move it inside its frame."), parent);
    for (QWidget* w : std::initializer_list<QWidget*>{picker, hint, m_size, m_mirror, center})
        m_frameRack->body()->addWidget(w);

    connect(m_aspects, &QButtonGroup::idClicked, this, [this](int id) {
        ExportSettings settings = m_model.exportSettings();
        settings.aspect = ExportSettings::Aspect(id);
        m_model.setExportSettings(settings);
    });
    connect(m_mirror, &QCheckBox::clicked, this, [this](bool on) {
        ExportSettings settings = m_model.exportSettings();
        settings.mirror = on;
        m_model.setExportSettings(settings);
    });
    connect(center, &QPushButton::clicked, this, [this] {
        ExportSettings settings = m_model.exportSettings();
        settings.positions.clear();
        m_model.setExportSettings(settings);
    });
}

void MasterRacks::buildLayout() {
    QWidget* parent = m_layoutRack->body();
    m_layouts = new QButtonGroup(this);
    for (ExportSettings::VideoLayout layout : allLayouts) {
        auto* choice = new QRadioButton(rawString(layout), parent);
        m_layouts->addButton(choice, int(layout));
        m_layoutRack->body()->addWidget(choice);
    }
    m_layoutRack->body()->addWidget(
        caption(QStringLiteral("How the overdub videos share the picture."), parent));
    connect(m_layouts, &QButtonGroup::idClicked, this, [this](int id) {
        ExportSettings settings = m_model.exportSettings();
        settings.layout = ExportSettings::VideoLayout(id);
        m_model.setExportSettings(settings);
    });
}

void MasterRacks::showTake() {
    const MasterSettings& master = m_model.master();
    m_volume->setValue(master.volumeDB);
    m_normalize->setChecked(master.normalize);
    const ExportSettings& settings = m_model.exportSettings();
    m_aspects->button(int(settings.aspect))->setChecked(true);
    m_mirror->setChecked(settings.mirror);
    m_layouts->button(int(settings.layout))->setChecked(true);
    showBoost();
}

void MasterRacks::showBoost() {
    const QString text = boostedCaption(m_model.master().normalize, m_model.normalizeGainDB());
    m_boost->setText(text);
    m_boost->setVisible(!text.isEmpty());
}

void MasterRacks::showSize() {
    const SizeD size = m_model.renderSize();
    m_size->setText(outputSizeText(size.width, size.height));
}

} // namespace reelbox::ui
