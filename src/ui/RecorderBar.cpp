#include "ui/RecorderBar.h"

#include "capture/RecorderModel.h"
#include "ui/AudioCard.h"
#include "ui/CameraCard.h"
#include "ui/RecordButton.h"
#include "ui/RecordingTime.h"
#include "ui/Style.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace reelbox::ui {

RecorderBar::RecorderBar(RecorderModel& recorder, DeviceManager& devices, QWidget* parent)
    : QFrame(parent), m_button(new RecordButton), m_time(new RecordingTime),
      m_audio(new AudioCard(recorder, devices)) {
    setObjectName(QStringLiteral("recorderBar"));
    setStyleSheet(QStringLiteral("#recorderBar { background: #%1; }")
                      .arg(colors::barBackground, 6, 16, QLatin1Char('0')));
    auto* layout = new QHBoxLayout(this);
    layout->setSpacing(16);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->addWidget(new CameraCard(recorder, devices), 1);
    auto* column = new QWidget;
    column->setFixedWidth(110);
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addStretch();
    stack->addWidget(m_button, 0, Qt::AlignHCenter);
    stack->addWidget(m_time);
    stack->addStretch();
    layout->addWidget(column);
    layout->addWidget(m_audio, 1);
    connect(m_button, &QAbstractButton::clicked, this, &RecorderBar::recordPressed);
    connect(&recorder, &RecorderModel::stateChanged, this, [this, &recorder] {
        m_button->setState(recorder.state());
        m_time->setState(recorder.state());
    });
    m_button->setState(recorder.state());
    m_time->setState(recorder.state());
}

} // namespace reelbox::ui
