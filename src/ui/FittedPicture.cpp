#include "ui/FittedPicture.h"

#include "ui/PreviewGeometry.h"

#include <QImage>
#include <QPainter>

namespace reelbox::ui {

void drawFittedPicture(QPainter& painter, const QSize& view, const QImage& image,
                       const QImage& placeOf) {
    if (image.isNull())
        return;
    const QImage& place = placeOf.isNull() ? image : placeOf;
    const ViewFit fit = fitInto({double(place.width()), double(place.height())},
                                {double(view.width()), double(view.height())});
    const RectD r = fit.map({0, 0, double(place.width()), double(place.height())});
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(QRectF(r.x, r.y, r.width, r.height), image);
}

} // namespace reelbox::ui
