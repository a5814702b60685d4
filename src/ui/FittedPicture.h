#pragma once

class QImage;
class QPainter;
class QSize;

namespace reelbox::ui {

// Draws `image` fitted into a view of `view` size, centred with its aspect kept, at the place
// a picture of `placeOf` size would take (the same picture unless a still stands in for it),
// without smoothing: pictures arrive at about the size they are shown.
void drawFittedPicture(QPainter& painter, const QSize& view, const QImage& image,
                       const QImage& placeOf);

} // namespace reelbox::ui
