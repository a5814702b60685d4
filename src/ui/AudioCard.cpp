#include "ui/AudioCard.h"

#include "capture/DeviceManager.h"
#include "capture/RecorderModel.h"
#include "ui/DevicePicker.h"
#include "ui/InputRows.h"

namespace reelbox::ui {

AudioCard::AudioCard(RecorderModel& recorder, DeviceManager& devices, QWidget* parent)
    : AudioCard(recorder.inputs(), devices, parent) {
    connect(&recorder, &RecorderModel::stateChanged, this, [this, &recorder] {
        setPickerEnabled(recorder.state().kind == RecorderState::Kind::idle);
    });
}

AudioCard::AudioCard(InputMonitor& inputs, DeviceManager& devices, QWidget* parent)
    : PanelCard(QStringLiteral("Audio"), QStringLiteral("audio-input-microphone"), parent),
      m_devices(devices), m_device(new DevicePicker(this)), m_inputs(new InputRows(inputs, this)) {
    m_device->setToolTip(QStringLiteral("The microphone or audio interface to record"));
    addRow(QStringLiteral("Device"), m_device);
    addWide(m_inputs);
    connect(&devices, &DeviceManager::microphonesChanged, this, &AudioCard::showMicrophones);
    connect(&devices, &DeviceManager::microphoneIDChanged, this, &AudioCard::showMicrophones);
    connect(m_device, &DevicePicker::chosen, this,
            [this](const QString& id) { m_devices.setMicrophoneID(id); });
    showMicrophones();
}

void AudioCard::setPickerEnabled(bool enabled) {
    m_device->setEnabled(enabled);
}

void AudioCard::showMicrophones() {
    std::vector<DevicePicker::Entry> entries;
    for (const SoundDevice& microphone : m_devices.microphones())
        entries.push_back({microphone.id, microphone.name});
    m_device->setDevices(entries, m_devices.microphoneID());
}

} // namespace reelbox::ui
