#pragma once

#include "model/Take.h"

#include <QImage>
#include <QString>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

namespace reelbox::Filmstrip {

// `count` frames at the centres of equal slices of the movie, each fitting 4h × 2h. Never
// fails: frames that can't be made are left out (throws only Cancelled).
std::vector<QImage> frames(const QString& moviePath, int count, double height,
                           const std::stop_token& token = {});

// The same frames handed to `sink` one by one as they are made, with their slice index;
// returns how many were made. Throws Error when the movie can't be read or has no picture,
// Cancelled when cancelled. A single frame that can't be made is left out.
int eachFrame(const QString& moviePath, int count, double height,
              const std::function<void(int, const QImage&)>& sink,
              const std::stop_token& token = {});

// The take's list thumbnail: "thumbnail.jpg" in the take folder, made once from the movie
// (at most 240 × 240, JPEG quality 0.8). Nothing when no frame can be made.
std::optional<QImage> ensureThumbnail(const Take& take);

// The movie the thumbnail is taken from.
QString thumbnailMovie(const Take& take);

} // namespace reelbox::Filmstrip
