#pragma once

#include <cstddef>

namespace reelbox::dsp {

// Plain loops over contiguous float arrays, for the mixer's whole-take passes. They live in
// this library because it is built for the auto-vectoriser; each does the same arithmetic as
// the obvious scalar loop, in the same order per sample, so the results are the same to the
// bit. Arrays passed to one call must not overlap.

// out[i] += in[i].
void add(const float* in, float* out, std::size_t n);

// A mono signal placed in a stereo pair: left[i] += in[i] × leftGain, right[i] += in[i] ×
// rightGain.
void addPanned(const float* in, float leftGain, float rightGain, float* left, float* right,
               std::size_t n);

// addPanned, and the same placed signal times `send` added into a second pair:
// busLeft[i] += (in[i] × leftGain) × send, and likewise on the right.
void addPannedWithSend(const float* in, float leftGain, float rightGain, float send, float* left,
                       float* right, float* busLeft, float* busRight, std::size_t n);

// Only the send of addPannedWithSend: busLeft[i] += (in[i] × leftGain) × send, and likewise on
// the right.
void addSend(const float* in, float leftGain, float rightGain, float send, float* busLeft,
             float* busRight, std::size_t n);

// The largest finite |x[i]| (0 for n = 0); infinities and NaNs are passed over.
float peakMagnitude(const float* x, std::size_t n);

// x[i] = 0 where x[i] is infinite or NaN.
void silenceNonFinite(float* x, std::size_t n);

// x[i] ×= factor.
void scale(float* x, std::size_t n, float factor);

// x[i] = std::clamp(x[i], -1, 1), and 0 where x[i] is infinite or NaN.
void clip(float* x, std::size_t n);

// out[2i] = left[i], out[2i + 1] = right[i].
void interleave(const float* left, const float* right, float* out, std::size_t n);

} // namespace reelbox::dsp
