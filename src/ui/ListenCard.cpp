#include "ui/ListenCard.h"

#include "capture/OverdubModel.h"
#include "ui/Icons.h"
#include "ui/Style.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

namespace reelbox::ui {

ListenCard::ListenCard(OverdubModel& model, QWidget* parent)
    : PanelCard(QStringLiteral("Listen on"), QStringLiteral("audio-speakers"), parent),
      m_model(model), m_picker(new QComboBox(this)) {
    m_picker->setAccessibleName(QStringLiteral("Listen on"));
    m_picker->setToolTip(QStringLiteral("Where you hear the take while you record"));
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_picker->setMinimumContentsLength(14);
    setTitleBuddy(m_picker);
    addWide(m_picker);

    auto* note = new QWidget(this);
    auto* row = new QHBoxLayout(note);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    auto* icon = new QLabel(note);
    icon->setPixmap(tintedPixmap(QStringLiteral("audio-headphones"), QColor(colors::secondaryText),
                                 14, devicePixelRatioF()));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* text =
        new QLabel(QStringLiteral("Use headphones so the take isn't recorded again."), note);
    text->setWordWrap(true);
    text->setStyleSheet(
        QStringLiteral("color: #%1").arg(colors::secondaryText, 6, 16, QLatin1Char('0')));
    row->addWidget(text, 1);
    addWide(note);

    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        const QString id = m_picker->itemData(index).toString();
        m_model.setOutputID(id.isEmpty() ? std::nullopt : std::optional<QString>(id));
    });
    connect(&model, &OverdubModel::outputsChanged, this, &ListenCard::showOutputs);
    connect(&model, &OverdubModel::outputIDChanged, this, &ListenCard::showOutputs);
    connect(&model, &OverdubModel::stateChanged, this,
            [this] { m_picker->setEnabled(m_model.state().kind == RecorderState::Kind::idle); });
    showOutputs();
}

void ListenCard::showOutputs() {
    const QSignalBlocker block(m_picker);
    m_picker->clear();
    m_picker->addItem(QStringLiteral("System Output"), QString());
    for (const AudioOutputDevice& output : m_model.outputs())
        m_picker->addItem(output.name, output.id);
    const std::optional<QString>& chosen = m_model.outputID();
    const int at = chosen ? m_picker->findData(*chosen) : 0;
    m_picker->setCurrentIndex(std::max(at, 0));
}

} // namespace reelbox::ui
