#pragma once

#include "compose/TakeComposer.h"
#include "model/ExportSettings.h"

#include <QString>
#include <functional>
#include <stop_token>

namespace reelbox::TakeExporter {

// Writes the composed take to one file: an MP4 with H.264 or HEVC video drawn by the
// result's video composition and the composition's sound as AAC, or an M4A with the sound
// only. Progress (0 … 1: encoding by composition time, then draining the encoders and moving
// the index to the front) comes every 0.1 s from a thread of the exporter's own, 1.0 only on
// success from the calling thread. The destination is checked before any work; the file is
// written beside it under a temporary name of its own and renamed over it at the end, so an
// existing file stays until the new one replaces it, and a failed or cancelled export leaves
// nothing behind. Throws CaptureError::writerFailed("export isn't available") when an encoder
// is missing, Error (naming the destination as given), or Cancelled.
void exportTake(const TakeComposer::Result& result, ExportSettings::Format format,
                const QString& destination, const std::function<void(double)>& progress = {},
                const std::stop_token& token = {});

// Throws Error naming `destination` and the reason when no export can be saved there (a
// folder, a missing folder, no right to write).
void checkDestination(const QString& destination);

// The take's name with "/" → "-" and ":" → ".", and the format's extension.
QString suggestedFileName(const TakeInfo& info);

} // namespace reelbox::TakeExporter
