#include "ui/InputRows.h"

#include "capture/InputMonitor.h"
#include "ui/ClipLight.h"
#include "ui/MeterBar.h"
#include "ui/Style.h"

#include <QCheckBox>
#include <QGraphicsOpacityEffect>
#include <QGridLayout>
#include <QLabel>

namespace reelbox::ui {

InputRows::InputRows(InputMonitor& inputs, QWidget* parent)
    : QWidget(parent), m_inputs(inputs), m_grid(new QGridLayout(this)),
      m_noSignal(new QLabel(QStringLiteral("No signal"), this)) {
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setHorizontalSpacing(8);
    m_grid->setVerticalSpacing(4);
    m_grid->setColumnStretch(1, 1);
    QPalette p = m_noSignal->palette();
    p.setColor(QPalette::WindowText, QColor(colors::secondaryText));
    m_noSignal->setPalette(p);
    m_grid->addWidget(m_noSignal, 0, 0, 1, 3);
    connect(&inputs, &InputMonitor::channelsChanged, this, &InputRows::rebuild);
    connect(&inputs, &InputMonitor::levelsChanged, this, &InputRows::showLevels);
    connect(&inputs, &InputMonitor::clippedChanged, this, &InputRows::showClips);
    rebuild();
}

MeterBar* InputRows::meter(int index) const {
    return index >= 0 && size_t(index) < m_rows.size() ? m_rows[size_t(index)].meter : nullptr;
}

void InputRows::rebuild() {
    const size_t count = m_inputs.channels().size();
    while (m_rows.size() > count) {
        const Row row = m_rows.back();
        m_rows.pop_back();
        delete row.box;
        delete row.meter;
        delete row.clip;
    }
    while (m_rows.size() < count) {
        const int index = int(m_rows.size());
        Row row{new QCheckBox(QStringLiteral("Input %1").arg(index + 1), this), new MeterBar(this),
                new ClipLight(this)};
        row.meter->setAccessibleName(QStringLiteral("Input %1 level").arg(index + 1));
        row.meter->setGraphicsEffect(new QGraphicsOpacityEffect(row.meter));
        connect(row.box, &QCheckBox::clicked, this,
                [this, index] { m_inputs.toggleChannel(index); });
        connect(row.clip, &QAbstractButton::clicked, &m_inputs, &InputMonitor::resetClipLights);
        m_grid->addWidget(row.box, index + 1, 0);
        m_grid->addWidget(row.meter, index + 1, 1, Qt::AlignVCenter);
        m_grid->addWidget(row.clip, index + 1, 2);
        m_rows.push_back(row);
    }
    m_noSignal->setVisible(count == 0);
    showChannels();
    showLevels();
    showClips();
}

void InputRows::showChannels() {
    const auto& channels = m_inputs.channels();
    for (size_t i = 0; i < m_rows.size() && i < channels.size(); ++i) {
        const bool on = channels[i].enabled;
        m_rows[i].box->setChecked(on);
        m_rows[i].box->setToolTip(
            on ? QStringLiteral("In the recording. Untick to leave this input out.")
               : QStringLiteral("Tick to use this input"));
        static_cast<QGraphicsOpacityEffect*>(m_rows[i].meter->graphicsEffect())
            ->setOpacity(on ? 1.0 : 0.3);
    }
}

void InputRows::showLevels() {
    const auto& levels = m_inputs.levels();
    for (size_t i = 0; i < m_rows.size(); ++i) {
        const bool known = i < levels.size();
        m_rows[i].meter->setLevel(known ? levels[i].average : -160.0f,
                                  known ? levels[i].peak : -160.0f);
    }
}

void InputRows::showClips() {
    const auto& clipped = m_inputs.clipped();
    for (size_t i = 0; i < m_rows.size(); ++i)
        m_rows[i].clip->setOn(i < clipped.size() && clipped[i]);
}

} // namespace reelbox::ui
