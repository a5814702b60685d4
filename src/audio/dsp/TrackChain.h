#pragma once

#include "audio/dsp/Equalizer.h"

#include <cstddef>

namespace reelbox::dsp {

// One track's effects in the mixer's order over a whole mono signal, in place: the EQ, then
// the compressor and the peak limiter. A null eq leaves the EQ out, a null compression the
// compressor and the limiter; with both null the samples are not touched.
void processTrackChain(float* samples, std::size_t count, const EqualizerSettings* eq,
                       const double* compression, double sampleRate);

} // namespace reelbox::dsp
