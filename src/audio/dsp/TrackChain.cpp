#include "audio/dsp/TrackChain.h"

#include "audio/dsp/Compressor.h"
#include "audio/dsp/PeakLimiter.h"

namespace reelbox::dsp {

void processTrackChain(float* samples, std::size_t count, const EqualizerSettings* eq,
                       const double* compression, double sampleRate) {
    if (eq)
        Equalizer(sampleRate, *eq).process(samples, count);
    if (compression) {
        Compressor(*compression, sampleRate).process(samples, count);
        PeakLimiter(sampleRate).process(samples, count);
    }
}

} // namespace reelbox::dsp
