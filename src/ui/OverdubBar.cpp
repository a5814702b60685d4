#include "ui/OverdubBar.h"

#include "capture/DeviceManager.h"
#include "capture/OverdubModel.h"
#include "ui/AudioCard.h"
#include "ui/DevicePicker.h"
#include "ui/Icons.h"
#include "ui/ListenCard.h"
#include "ui/RecordButton.h"
#include "ui/RecordingTime.h"
#include "ui/SoundVideoChoice.h"
#include "ui/Style.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QToolButton>
#include <QVBoxLayout>

namespace reelbox::ui {

namespace {
constexpr int practiceIcon = 28;
constexpr int recordColumn = 110;
} // namespace

OverdubBar::OverdubBar(OverdubModel& model, DeviceManager& devices, QWidget* parent)
    : QFrame(parent), m_model(model), m_devices(devices), m_choice(new SoundVideoChoice),
      m_cameraPicker(new DevicePicker), m_mirror(new QCheckBox(QStringLiteral("Mirror"))),
      m_camera(makeCameraCard()), m_practice(new QToolButton),
      m_audio(new AudioCard(model.inputs(), devices)), m_listen(new ListenCard(model)),
      m_record(new RecordButton), m_time(new RecordingTime) {
    setObjectName(QStringLiteral("overdubBar"));
    setStyleSheet(QStringLiteral("#overdubBar { background: #%1; }")
                      .arg(colors::barBackground, 6, 16, QLatin1Char('0')));
    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(16);
    layout->setContentsMargins(16, 16, 16, 16);

    auto* record = new PanelCard(QStringLiteral("Record"), QStringLiteral("media-record"));
    record->addWide(m_choice);
    layout->addWidget(record);
    layout->addWidget(m_camera, 1);

    m_practice->setIconSize(QSize(practiceIcon, practiceIcon));
    m_practice->setAutoRaise(true);
    m_practice->setFocusPolicy(Qt::NoFocus);
    m_practice->setToolTip(QStringLiteral("Listen to the take to practice (Space)"));
    layout->addWidget(m_practice);

    layout->addWidget(m_audio, 1);
    layout->addWidget(m_listen);

    auto* column = new QWidget;
    column->setFixedWidth(recordColumn);
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addStretch();
    stack->addWidget(m_record, 0, Qt::AlignHCenter);
    stack->addWidget(m_time);
    stack->addStretch();
    layout->addWidget(column);

    connect(m_choice, &SoundVideoChoice::chosen, &model,
            [this](bool video) { m_model.setRecordVideo(video); });
    connect(m_cameraPicker, &DevicePicker::chosen, this,
            [this](const QString& id) { m_devices.setCameraID(id); });
    connect(m_mirror, &QCheckBox::toggled, &model, &OverdubModel::setMirrorPreview);
    connect(m_practice, &QToolButton::clicked, &model, &OverdubModel::togglePreview);
    connect(m_record, &QAbstractButton::clicked, this, &OverdubBar::recordPressed);
    connect(&devices, &DeviceManager::camerasChanged, this, &OverdubBar::showCameras);
    connect(&devices, &DeviceManager::cameraIDChanged, this, &OverdubBar::showCameras);
    for (auto changed : {&OverdubModel::recordVideoChanged, &OverdubModel::mirrorPreviewChanged,
                         &OverdubModel::isPreviewingChanged})
        connect(&model, changed, this, &OverdubBar::showChoices);
    connect(&model, &OverdubModel::stateChanged, this, &OverdubBar::showState);
    showCameras();
    showChoices();
    showState();
}

PanelCard* OverdubBar::makeCameraCard() {
    auto* card = new PanelCard(QStringLiteral("Camera"), QStringLiteral("camera-video"));
    m_cameraPicker->setToolTip(QStringLiteral("The camera to record"));
    card->addRow(QStringLiteral("Device"), m_cameraPicker);
    m_mirror->setToolTip(QStringLiteral("Only the preview is mirrored, never the recording"));
    card->addRow(QStringLiteral("Preview"), m_mirror);
    return card;
}

void OverdubBar::showCameras() {
    std::vector<DevicePicker::Entry> entries;
    for (const CameraInfo& camera : m_devices.cameras())
        entries.push_back({camera.id, camera.name});
    m_cameraPicker->setDevices(entries, m_devices.cameraID());
}

void OverdubBar::showChoices() {
    m_choice->setVideo(m_model.recordVideo());
    m_camera->setVisible(m_model.recordVideo());
    m_mirror->setChecked(m_model.mirrorPreview());
    const bool playing = m_model.isPreviewing();
    m_practice->setIcon(tintedIcon(playing ? QStringLiteral("media-playback-pause")
                                           : QStringLiteral("media-playback-start"),
                                   Qt::white));
    m_practice->setAccessibleName(playing ? QStringLiteral("Pause") : QStringLiteral("Play"));
}

void OverdubBar::showState() {
    const RecorderState& state = m_model.state();
    const bool idle = state.kind == RecorderState::Kind::idle;
    m_choice->setEnabled(idle);
    m_cameraPicker->setEnabled(idle);
    m_practice->setEnabled(idle);
    m_audio->setPickerEnabled(idle);
    m_record->setState(state);
    m_time->setState(state);
}

} // namespace reelbox::ui
