#include "ui/CameraCard.h"

#include "capture/DeviceManager.h"
#include "capture/RecorderModel.h"
#include "ui/DevicePicker.h"

#include <QCheckBox>
#include <QComboBox>

namespace reelbox::ui {

CameraCard::CameraCard(RecorderModel& recorder, DeviceManager& devices, QWidget* parent)
    : PanelCard(QStringLiteral("Camera"), QStringLiteral("camera-video"), parent),
      m_recorder(recorder), m_devices(devices), m_device(new DevicePicker(this)),
      m_countdown(new QComboBox(this)), m_mirror(new QCheckBox(QStringLiteral("Mirror"), this)) {
    addRow(QStringLiteral("Device"), m_device);
    m_device->setToolTip(QStringLiteral("The camera to record"));
    for (const auto& [label, seconds] :
         {std::pair{"Off", 0}, {"3 seconds", 3}, {"5 seconds", 5}, {"10 seconds", 10}})
        m_countdown->addItem(QString::fromUtf8(label), seconds);
    m_countdown->setAccessibleName(QStringLiteral("Countdown"));
    m_countdown->setToolTip(QStringLiteral("Seconds between pressing record and the start"));
    addRow(QStringLiteral("Countdown"), m_countdown);
    m_mirror->setToolTip(QStringLiteral("Only the preview is mirrored, never the recording"));
    addRow(QStringLiteral("Preview"), m_mirror);

    connect(&devices, &DeviceManager::camerasChanged, this, &CameraCard::showCameras);
    connect(&devices, &DeviceManager::cameraIDChanged, this, &CameraCard::showCameras);
    connect(m_device, &DevicePicker::chosen, this,
            [this](const QString& id) { m_devices.setCameraID(id); });
    connect(m_countdown, &QComboBox::activated, this, [this](int index) {
        m_recorder.setCountdownSeconds(m_countdown->itemData(index).toInt());
    });
    connect(m_mirror, &QCheckBox::toggled, &recorder, &RecorderModel::setMirrorPreview);
    connect(&recorder, &RecorderModel::countdownSecondsChanged, this, &CameraCard::showState);
    connect(&recorder, &RecorderModel::mirrorPreviewChanged, this, &CameraCard::showState);
    connect(&recorder, &RecorderModel::stateChanged, this, &CameraCard::showState);
    connect(&recorder, &RecorderModel::videoInfoChanged, this,
            [this] { setDetail(m_recorder.videoInfo().value_or(QString())); });
    showCameras();
    showState();
    setDetail(recorder.videoInfo().value_or(QString()));
}

void CameraCard::showCameras() {
    std::vector<DevicePicker::Entry> entries;
    for (const CameraInfo& camera : m_devices.cameras())
        entries.push_back({camera.id, camera.name});
    m_device->setDevices(entries, m_devices.cameraID());
}

void CameraCard::showState() {
    const bool idle = m_recorder.state().kind == RecorderState::Kind::idle;
    m_device->setEnabled(idle);
    m_countdown->setEnabled(idle);
    const int at = m_countdown->findData(m_recorder.countdownSeconds());
    m_countdown->setCurrentIndex(at >= 0 ? at : 0);
    m_mirror->setChecked(m_recorder.mirrorPreview());
}

} // namespace reelbox::ui
