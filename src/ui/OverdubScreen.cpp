#include "ui/OverdubScreen.h"

#include "capture/DeviceManager.h"
#include "capture/OverdubModel.h"
#include "edit/TakeEditorModel.h"
#include "ui/CameraView.h"
#include "ui/CountdownOverlay.h"
#include "ui/EmptyState.h"
#include "ui/Icons.h"
#include "ui/KeyMonitor.h"
#include "ui/OverdubBar.h"
#include "ui/OverdubCaptions.h"
#include "ui/PlayerPictureView.h"
#include "ui/StartBar.h"
#include "ui/Style.h"
#include "ui/VideoPane.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace reelbox::ui {

namespace {

constexpr int paneGap = 2;
constexpr int soundOnlyIcon = 64;

QFrame* divider() {
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFixedHeight(1);
    line->setStyleSheet(QStringLiteral("background: #3a3a3e; border: none;"));
    return line;
}

// The sound-only stand-in for the camera: a faint waveform on black.
QWidget* waveformStandIn() {
    auto* icon = new QLabel;
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(tintedPixmap(QStringLiteral("audio-x-generic"), QColor(255, 255, 255, 102),
                                 soundOnlyIcon, icon->devicePixelRatioF()));
    return icon;
}

} // namespace

OverdubScreen::OverdubScreen(OverdubModel& model, TakeEditorModel& editor, QWidget* parent)
    : QWidget(parent), m_model(model), m_editor(editor),
      m_back(new QPushButton(QStringLiteral("Back to Editor"))), m_subtitle(new QLabel),
      m_takePicture(new PlayerPictureView(model.player())),
      m_takePane(new VideoPane(takeCaption(), m_takePicture)),
      m_camera(new CameraView(model.cameraPreview())),
      m_cameraPane(new VideoPane(cameraCaption(std::nullopt), m_camera)),
      m_noCamera(new EmptyState(QStringLiteral("camera-disabled"), QStringLiteral("No Camera"),
                                QStringLiteral("Connect a camera to use it here."),
                                QColor(0xd0d0d4))),
      m_soundOnly(new VideoPane(soundOnlyCaption(), waveformStandIn())), m_side(new QStackedWidget),
      m_countdown(new CountdownOverlay), m_start(new StartBar(model)),
      m_bar(new OverdubBar(model, model.devices())),
      m_keys(new KeyMonitor(this, [this](const QKeyEvent& key) {
          switch (key.key()) {
          case Qt::Key_Space:
              m_model.togglePreview();
              return true;
          case Qt::Key_R:
              record();
              return true;
          case Qt::Key_Escape:
              if (m_model.state().kind != RecorderState::Kind::idle)
                  return false;
              back();
              return true;
          default:
              return false;
          }
      })) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);

    m_side->addWidget(m_cameraPane);
    m_side->addWidget(m_noCamera);
    m_side->addWidget(m_soundOnly);
    m_side->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    auto* panes = new QHBoxLayout;
    panes->setSpacing(paneGap);
    panes->addWidget(m_takePane, 1);
    panes->addWidget(m_side, 1);
    auto* stage = new QGridLayout;
    stage->addLayout(panes, 0, 0);
    stage->addWidget(m_countdown, 0, 0);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeHeader());
    layout->addLayout(stage, 1);
    layout->addWidget(divider());
    layout->addWidget(m_start);
    layout->addWidget(divider());
    layout->addWidget(m_bar);

    connect(m_back, &QPushButton::clicked, this, &OverdubScreen::back);
    connect(m_bar, &OverdubBar::recordPressed, this, &OverdubScreen::record);
    connect(&model, &OverdubModel::stateChanged, this, &OverdubScreen::showState);
    connect(&model, &OverdubModel::recordVideoChanged, this, &OverdubScreen::showStage);
    connect(&model, &OverdubModel::mirrorPreviewChanged, this, &OverdubScreen::showStage);
    connect(&model, &OverdubModel::errorMessageChanged, this, &OverdubScreen::showError);
    connect(&model, &OverdubModel::recordingEnded, this, [this](bool added) {
        if (added)
            back();
    });
    DeviceManager& devices = model.devices();
    connect(&devices, &DeviceManager::camerasChanged, this, &OverdubScreen::showStage);
    for (auto changed : {&DeviceManager::cameraIDChanged, &DeviceManager::microphoneIDChanged})
        connect(&devices, changed, this, [this] {
            if (m_active)
                m_model.applyDevices(false);
            showStage();
        });
    showStage();
    showState();
}

QWidget* OverdubScreen::makeHeader() {
    auto* header = new QFrame;
    header->setObjectName(QStringLiteral("overdubHeader"));
    header->setStyleSheet(QStringLiteral("#overdubHeader { background: #%1; }")
                              .arg(colors::barBackground, 6, 16, QLatin1Char('0')));
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(12, 8, 16, 8);
    row->setSpacing(12);
    m_back->setIcon(tintedIcon(QStringLiteral("go-previous"), Qt::white));
    m_back->setToolTip(QStringLiteral("Leave without recording"));
    m_back->setFocusPolicy(Qt::NoFocus);
    row->addWidget(m_back);
    auto* title = new QLabel(QStringLiteral("Overdub"));
    QFont font = title->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    title->setFont(font);
    row->addWidget(title);
    m_subtitle->setStyleSheet(
        QStringLiteral("color: #%1").arg(colors::secondaryText, 6, 16, QLatin1Char('0')));
    row->addWidget(m_subtitle);
    row->addStretch();
    return header;
}

QWidget* OverdubScreen::sidePane() const {
    return m_side->currentWidget();
}

void OverdubScreen::record() {
    m_model.toggleRecording();
}

OverdubScreen::~OverdubScreen() {
    if (m_active)
        m_model.deactivate();
}

void OverdubScreen::back() {
    if (m_model.state().kind != RecorderState::Kind::idle)
        return;
    TakeEditorModel* editor = &m_editor;
    QMetaObject::invokeMethod(
        editor, [editor] { editor->setOverdubbing(false); }, Qt::QueuedConnection);
}

void OverdubScreen::showEvent(QShowEvent* event) {
    if (event->spontaneous() || m_active)
        return;
    m_active = true;
    m_keys->install();
    m_model.activate();
    showStage();
}

void OverdubScreen::hideEvent(QHideEvent* event) {
    if (event->spontaneous() || !m_active)
        return;
    m_active = false;
    m_keys->remove();
    m_model.deactivate();
}

void OverdubScreen::showStage() {
    const CameraInfo* camera = m_model.devices().camera();
    switch (overdubPane(m_model.recordVideo(), camera != nullptr)) {
    case OverdubPane::camera:
        m_side->setCurrentWidget(m_cameraPane);
        break;
    case OverdubPane::noCamera:
        m_side->setCurrentWidget(m_noCamera);
        break;
    case OverdubPane::soundOnly:
        m_side->setCurrentWidget(m_soundOnly);
        break;
    }
    m_cameraPane->setCaption(
        cameraCaption(camera ? std::optional<QString>(camera->name) : std::nullopt));
    m_camera->setMirrored(m_model.mirrorPreview());
}

void OverdubScreen::showState() {
    const RecorderState& state = m_model.state();
    m_back->setEnabled(state.kind == RecorderState::Kind::idle);
    m_subtitle->setText(overdubSubtitle(state));
    m_countdown->setVisible(state.kind == RecorderState::Kind::countdown);
    if (state.kind == RecorderState::Kind::countdown)
        m_countdown->setNumber(state.remaining);
}

void OverdubScreen::showError() {
    const std::optional<QString>& message = m_model.errorMessage();
    if (!message) {
        if (m_problem)
            m_problem->close();
        return;
    }
    if (!m_problem) {
        m_problem = new QMessageBox(QMessageBox::Warning, QStringLiteral("Overdub Problem"), {},
                                    QMessageBox::Ok, this);
        connect(m_problem, &QMessageBox::finished, &m_model, &OverdubModel::clearErrorMessage);
    }
    m_problem->setText(QStringLiteral("Overdub Problem"));
    m_problem->setInformativeText(*message);
    m_problem->open();
}

} // namespace reelbox::ui
