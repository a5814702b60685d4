#pragma once

#include "model/Take.h"
#include "model/TakeLibrary.h"

#include <QSize>
#include <stop_token>

namespace reelbox {

struct SyntheticTakeOptions {
    double seconds = 10;
    int channels = 2;
    QSize size{1920, 1080};
    int frameRate = 30;
    int overdubs = 0;
    bool audioOnlyOverdubs = false;
};

// Writes a take folder into the library as a recording with the test camera and the test
// microphone would leave it: take.mov, take.json with one track per channel, and the
// overdub movies with their records and tracks, placed inside the take. Faster than real
// time. Throws Error (or Cancelled); a failed take leaves no folder behind.
Take makeSyntheticTake(TakeLibrary& library, const SyntheticTakeOptions& options,
                       const std::stop_token& token = {});

// One synthetic movie: test pattern (when size is not empty) and test tones.
void writeSyntheticMovie(const QString& path, double seconds, int channels, QSize size,
                         int frameRate, const std::stop_token& token = {});

} // namespace reelbox
