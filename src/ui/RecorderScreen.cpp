#include "ui/RecorderScreen.h"

#include "capture/CameraPreview.h"
#include "capture/RecorderModel.h"
#include "ui/CameraView.h"
#include "ui/CountdownOverlay.h"
#include "ui/EmptyState.h"
#include "ui/KeyMonitor.h"
#include "ui/PermissionHint.h"
#include "ui/RecorderBar.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QMessageBox>
#include <QVBoxLayout>

namespace reelbox::ui {

RecorderScreen::RecorderScreen(RecorderModel& recorder, DeviceManager& devices,
                               TakeLibrary& library, QWidget* parent)
    : QWidget(parent), m_recorder(recorder), m_devices(devices), m_library(library),
      m_camera(new CameraView(recorder.cameraPreview())),
      m_noCamera(new EmptyState(QStringLiteral("camera-disabled"), QStringLiteral("No Camera"),
                                QStringLiteral("Connect a camera to use it here."),
                                QColor(0xd0d0d4))),
      m_permission(new PermissionHint), m_countdown(new CountdownOverlay),
      m_bar(new RecorderBar(recorder, devices)),
      m_keys(new KeyMonitor(this, [this](const QKeyEvent& key) {
          if (key.key() != Qt::Key_R && key.key() != Qt::Key_Space)
              return false;
          record();
          return true;
      })) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* stage = new QGridLayout;
    stage->addWidget(m_camera, 0, 0);
    stage->addWidget(m_noCamera, 0, 0);
    stage->addWidget(m_permission, 0, 0, Qt::AlignCenter);
    stage->addWidget(m_countdown, 0, 0);
    layout->addLayout(stage, 1);
    layout->addWidget(m_bar);

    connect(m_bar, &RecorderBar::recordPressed, this, &RecorderScreen::record);
    connect(&recorder, &RecorderModel::stateChanged, this, &RecorderScreen::showStage);
    connect(&recorder, &RecorderModel::mirrorPreviewChanged, this, &RecorderScreen::showStage);
    connect(&recorder, &RecorderModel::permissionDeniedChanged, this, &RecorderScreen::showStage);
    connect(&devices, &DeviceManager::camerasChanged, this, &RecorderScreen::showStage);
    connect(&recorder, &RecorderModel::errorMessageChanged, this, &RecorderScreen::showError);
    connect(&recorder, &RecorderModel::takeFinished, this, &RecorderScreen::finished);
    for (auto changed : {&DeviceManager::cameraIDChanged, &DeviceManager::microphoneIDChanged})
        connect(&devices, changed, this, [this] {
            if (isVisible())
                m_recorder.applyDevices();
            showStage();
        });
    showStage();
}

void RecorderScreen::activate() {
    m_recorder.activate(&m_library);
    showStage();
}

void RecorderScreen::record() {
    m_recorder.toggleRecording(m_library);
}

void RecorderScreen::showEvent(QShowEvent*) {
    m_keys->install();
}

void RecorderScreen::hideEvent(QHideEvent*) {
    m_keys->remove();
}

void RecorderScreen::showStage() {
    const bool camera = m_devices.camera() != nullptr;
    m_noCamera->setVisible(!camera);
    m_camera->setVisible(camera);
    m_camera->setMirrored(m_recorder.mirrorPreview());
    m_permission->setVisible(m_recorder.permissionDenied());
    const RecorderState& state = m_recorder.state();
    m_countdown->setVisible(state.kind == RecorderState::Kind::countdown);
    if (state.kind == RecorderState::Kind::countdown)
        m_countdown->setNumber(state.remaining);
}

void RecorderScreen::showError() {
    const std::optional<QString>& message = m_recorder.errorMessage();
    if (!message) {
        if (m_problem)
            m_problem->close();
        return;
    }
    if (!m_problem) {
        m_problem = new QMessageBox(QMessageBox::Warning, QStringLiteral("Recording Problem"), {},
                                    QMessageBox::Ok, this);
        connect(m_problem, &QMessageBox::finished, &m_recorder, &RecorderModel::clearErrorMessage);
    }
    m_problem->setText(QStringLiteral("Recording Problem"));
    m_problem->setInformativeText(*message);
    m_problem->open();
}

} // namespace reelbox::ui
