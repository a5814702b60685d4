#include "ui/MixerStyle.h"

#include "ui/Style.h"

#include <QPalette>
#include <QWidget>

namespace reelbox::ui {

QColor accentColor(const QWidget* widget) {
    return widget->palette().color(QPalette::Highlight);
}

QFont mixerFont(TextStyle style, const QFont& base) {
    QFont font = base;
    const double size = base.pointSizeF() > 0 ? base.pointSizeF() : 10;
    switch (style) {
    case TextStyle::headline:
        font.setWeight(QFont::Bold);
        break;
    case TextStyle::subheadline:
        font.setPointSizeF(size * 0.92);
        font.setWeight(QFont::DemiBold);
        break;
    case TextStyle::callout:
        font.setPointSizeF(size * 0.95);
        break;
    case TextStyle::caption:
        font.setPointSizeF(size * 0.85);
        break;
    case TextStyle::monospacedCaption:
        font.setPointSizeF(size * 0.85);
        font.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("monospace")});
        font.setStyleHint(QFont::Monospace);
        break;
    }
    return font;
}

void setSecondary(QWidget* label) {
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(colors::secondaryText));
    label->setPalette(palette);
}

} // namespace reelbox::ui
