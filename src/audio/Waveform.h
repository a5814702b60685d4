#pragma once

#include <QString>
#include <stop_token>
#include <vector>

namespace reelbox {

// Peaks of a track, one per bucket of take time: peak k is the largest |sample| in
// [k × bucketDuration, (k + 1) × bucketDuration). Raw magnitudes, not normalised.
struct Waveform {
    std::vector<float> peaks;
    double bucketDuration = 1;

    // Stands in for a waveform that isn't loaded yet.
    static Waveform empty() { return {}; }

    // Reads a mono stem whose first frame sounds at take time `startSeconds`, in 10 ms
    // buckets. Throws Error when the stem can't be read, Cancelled when cancelled.
    static Waveform load(const QString& stemPath, double startSeconds,
                         const std::stop_token& token = {});

    bool operator==(const Waveform&) const = default;
};

} // namespace reelbox
