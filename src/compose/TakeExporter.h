#pragma once

#include "compose/TakeComposer.h"
#include "model/ExportSettings.h"

#include <QString>
#include <functional>
#include <stop_token>

namespace reelbox::TakeExporter {

// Writes the composed take to one file: an MP4 with H.264 or HEVC video drawn by the
// result's video composition and the composition's sound as AAC, or an M4A with the sound
// only. Progress (0 … 1, by composition time written) comes at most every 0.1 s from the
// calling thread, 1.0 only on success. The file is written beside the destination under a
// temporary name and renamed at the end, so a failed or cancelled export leaves nothing under
// the destination name. Throws CaptureError::writerFailed("export isn't available") when an
// encoder is missing, Error, or Cancelled.
void exportTake(const TakeComposer::Result& result, ExportSettings::Format format,
                const QString& destination, const std::function<void(double)>& progress = {},
                const std::stop_token& token = {});

// The take's name with "/" → "-" and ":" → ".", and the format's extension.
QString suggestedFileName(const TakeInfo& info);

} // namespace reelbox::TakeExporter
