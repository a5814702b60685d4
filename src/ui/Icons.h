#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace reelbox::ui {

// Our own icons, named after freedesktop icon names (":/reelbox/icons/NAME.svg"), drawn in one
// colour: a system icon theme may be missing.
QPixmap tintedPixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio);
QIcon tintedIcon(const QString& name, const QColor& color);
// Reelbox's own icon, in its colours.
QIcon applicationIcon();

} // namespace reelbox::ui
