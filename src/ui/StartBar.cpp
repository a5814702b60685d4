#include "ui/StartBar.h"

#include "capture/OverdubModel.h"
#include "ui/Format.h"
#include "ui/Icons.h"
#include "ui/StartScale.h"
#include "ui/Style.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>

namespace reelbox::ui {

namespace {

constexpr int timeColumn = 56;
const char* const help = "Drag to choose where the take starts playing when you record";

StartScale scaleOf(const OverdubModel& model) {
    const OverdubModel::Range range = model.startRange();
    return {range.lower, range.upper};
}

} // namespace

StartBar::StartBar(OverdubModel& model, QWidget* parent)
    : QFrame(parent), m_model(model), m_time(new QLabel(this)),
      m_slider(new QSlider(Qt::Horizontal, this)),
      m_beginning(new QPushButton(QStringLiteral("Beginning"), this)) {
    setObjectName(QStringLiteral("startBar"));
    setStyleSheet(QStringLiteral("#startBar { background: #%1; }")
                      .arg(colors::barBackground, 6, 16, QLatin1Char('0')));
    setToolTip(QString::fromUtf8(help));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(20, 14, 20, 14);
    layout->setSpacing(10);
    auto* icon = new QLabel(this);
    icon->setPixmap(tintedPixmap(QStringLiteral("go-last"), QColor(colors::secondaryText), 14,
                                 devicePixelRatioF()));
    layout->addWidget(icon);
    auto* title = new QLabel(QStringLiteral("Starts at"), this);
    title->setBuddy(m_slider);
    layout->addWidget(title);
    m_time->setFixedWidth(timeColumn);
    m_time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_time->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont)); // digits of one width
    layout->addWidget(m_time);
    m_slider->setAccessibleName(QStringLiteral("Starts at"));
    m_slider->setToolTip(QString::fromUtf8(help));
    layout->addWidget(m_slider, 1);
    m_beginning->setToolTip(QStringLiteral("Start at the beginning of the take"));
    layout->addWidget(m_beginning);

    // The start follows the slider; the take is cued once more where it is let go.
    connect(m_slider, &QSlider::valueChanged, this,
            [this](int value) { m_model.setStartTime(scaleOf(m_model).secondsAt(value)); });
    connect(m_slider, &QSlider::sliderReleased, &m_model, &OverdubModel::cueStart);
    connect(m_beginning, &QPushButton::clicked, this,
            [this] { m_model.setStartTime(m_model.startRange().lower); });
    connect(&model, &OverdubModel::startTimeChanged, this, &StartBar::showStart);
    connect(&model, &OverdubModel::stateChanged, this, &StartBar::showState);
    showStart();
    showState();
}

void StartBar::showStart() {
    const StartScale scale = scaleOf(m_model);
    const QSignalBlocker block(m_slider);
    m_slider->setRange(0, scale.maximum());
    m_slider->setSingleStep(100);
    m_slider->setPageStep(1000);
    m_slider->setValue(scale.valueAt(m_model.startTime()));
    m_time->setText(formatTime(m_model.startTime(), true));
}

void StartBar::showState() {
    setEnabled(m_model.state().kind == RecorderState::Kind::idle);
}

} // namespace reelbox::ui
