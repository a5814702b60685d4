#pragma once

#include "platform/media/YuvPicture.h"

#include <QImage>
#include <memory>

namespace reelbox {

// Converts between RGB pictures and 8-bit 4:2:0 ones (limited range, in the picture's colour
// matrix), scaling to the size of the picture converted into. Only the pixels of the two
// pictures are read and written, however tightly their buffers were allocated. Keeps its
// scaler and buffers between pictures of the same shape; one converter per thread.
class PictureConverter {
public:
    PictureConverter();
    ~PictureConverter();
    PictureConverter(const PictureConverter&) = delete;
    PictureConverter& operator=(const PictureConverter&) = delete;

    // Any QImage format into `to`'s planes. Throws Error when either picture is empty.
    void convert(const QImage& from, const YuvPicture& to);
    // Into `to` at its size: Format_RGB32, ARGB32 or ARGB32_Premultiplied (written in place;
    // any other format is replaced by an RGB32 picture of its size). Throws Error when either
    // picture is empty.
    void convert(const YuvPicture& from, QImage& to);

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace reelbox
