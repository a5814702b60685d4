#include "ui/PermissionHint.h"

#include <QLabel>
#include <QVBoxLayout>

namespace reelbox::ui {

PermissionHint::PermissionHint(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("permissionHint"));
    setStyleSheet(
        QStringLiteral("#permissionHint { background: rgba(60, 60, 66, 230); border-radius: 12px; }"
                       "QLabel { color: white; }"));
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Maximum);
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(8);
    layout->setContentsMargins(20, 20, 20, 20);
    auto* headline =
        new QLabel(QStringLiteral("Reelbox needs camera and microphone access."), this);
    QFont font = headline->font();
    font.setBold(true);
    headline->setFont(font);
    layout->addWidget(headline);
    auto* help = new QLabel(QStringLiteral("Check that your user may use the camera and the sound "
                                           "devices (the video and audio groups)."),
                            this);
    help->setWordWrap(true);
    layout->addWidget(help);
    setMaximumWidth(460);
}

} // namespace reelbox::ui
