#include "ui/Icons.h"

#include <QPainter>
#include <QSvgRenderer>

// The icons are compiled into this static library; nothing references them by symbol.
static void loadIconResources() {
    static const bool loaded = [] {
        Q_INIT_RESOURCE(icons);
        return true;
    }();
    (void)loaded;
}

namespace reelbox::ui {

QIcon applicationIcon() {
    loadIconResources();
    return QIcon(QStringLiteral(":/reelbox/icons/org.reelbox.Reelbox.svg"));
}

QPixmap tintedPixmap(const QString& name, const QColor& color, int size, qreal devicePixelRatio) {
    loadIconResources();
    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(QStringLiteral(":/reelbox/icons/%1.svg").arg(name));
    QPainter painter(&image);
    renderer.render(&painter);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    painter.end();
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon tintedIcon(const QString& name, const QColor& color) {
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        for (qreal ratio : {1.0, 2.0})
            icon.addPixmap(tintedPixmap(name, color, size, ratio));
    return icon;
}

} // namespace reelbox::ui
