#include "ui/SoundVideoChoice.h"

#include "ui/Icons.h"

#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QToolButton>

namespace reelbox::ui {

namespace {

constexpr int choiceWidth = 170;

QToolButton* segment(const QString& text, const QString& icon, const QString& help,
                     QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setText(text);
    button->setIcon(tintedIcon(icon, Qt::white));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setCheckable(true);
    button->setAutoExclusive(true); // one of the two
    button->setToolTip(help);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return button;
}

} // namespace

SoundVideoChoice::SoundVideoChoice(QWidget* parent)
    : QWidget(parent), m_sound(segment(QStringLiteral("Sound"), QStringLiteral("audio-x-generic"),
                                       QStringLiteral("Record sound only"), this)),
      m_video(segment(QStringLiteral("Video too"), QStringLiteral("camera-video"),
                      QStringLiteral("Record the camera as well as the sound"), this)) {
    setFixedWidth(choiceWidth);
    setAccessibleName(QStringLiteral("Record"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_sound);
    layout->addWidget(m_video);
    // Clicked, or toggled by a screen reader.
    connect(m_sound, &QToolButton::toggled, this, [this](bool on) {
        if (on)
            emit chosen(false);
    });
    connect(m_video, &QToolButton::toggled, this, [this](bool on) {
        if (on)
            emit chosen(true);
    });
}

void SoundVideoChoice::setVideo(bool video) {
    const QSignalBlocker sound(m_sound), videoToo(m_video);
    (video ? m_video : m_sound)->setChecked(true);
    (video ? m_sound : m_video)->setChecked(false);
}

bool SoundVideoChoice::video() const {
    return m_video->isChecked();
}

} // namespace reelbox::ui
