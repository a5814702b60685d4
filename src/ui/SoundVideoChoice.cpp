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
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    button->setIconSize(QSize(14, 14));
    return button;
}

} // namespace

SoundVideoChoice::SoundVideoChoice(QWidget* parent)
    : QWidget(parent), m_sound(segment(QStringLiteral("Sound"), QStringLiteral("audio-x-generic"),
                                       QStringLiteral("Record sound only"), this)),
      m_video(segment(QStringLiteral("Video too"), QStringLiteral("camera-video"),
                      QStringLiteral("Record the camera as well as the sound"), this)) {
    setFixedWidth(choiceWidth);
    // Joined: rounded at the outer ends, the chosen one lit.
    m_sound->setObjectName(QStringLiteral("sound"));
    m_video->setObjectName(QStringLiteral("videoToo"));
    setStyleSheet(
        QStringLiteral("QToolButton { color: white; background: #3a3a3e; border: 1px solid #505056;"
                       " padding: 3px 4px; }"
                       "QToolButton:checked { background: #636369; }"
                       "QToolButton:disabled { color: #808086; }"
                       "#sound { border-top-left-radius: 6px; border-bottom-left-radius: 6px; }"
                       "#videoToo { border-left: none; border-top-right-radius: 6px;"
                       " border-bottom-right-radius: 6px; }"));
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
