#include "audio/dsp/SampleOps.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace reelbox::dsp {

void add(const float* __restrict in, float* __restrict out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        out[i] += in[i];
}

void addPanned(const float* __restrict in, float leftGain, float rightGain, float* __restrict left,
               float* __restrict right, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        left[i] += in[i] * leftGain;
        right[i] += in[i] * rightGain;
    }
}

void addPannedWithSend(const float* __restrict in, float leftGain, float rightGain, float send,
                       float* __restrict left, float* __restrict right, float* __restrict busLeft,
                       float* __restrict busRight, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const float l = in[i] * leftGain;
        const float r = in[i] * rightGain;
        left[i] += l;
        right[i] += r;
        busLeft[i] += l * send;
        busRight[i] += r * send;
    }
}

float peakMagnitude(const float* __restrict x, std::size_t n) {
    // Running maxima in vector lanes; the maximum does not depend on the order in which the
    // values are taken. Each lane step is `peak < v ? v : peak`, as std::max, so a NaN is
    // passed over as there.
    using Float4 = float __attribute__((vector_size(16)));
    using Int4 = std::int32_t __attribute__((vector_size(16)));
    Float4 p0 = {}, p1 = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        Int4 b0, b1;
        std::memcpy(&b0, x + i, sizeof b0);
        std::memcpy(&b1, x + i + 4, sizeof b1);
        const Float4 v0 = std::bit_cast<Float4>(b0 & 0x7fffffff); // |x|
        const Float4 v1 = std::bit_cast<Float4>(b1 & 0x7fffffff);
        p0 = p0 < v0 ? v0 : p0;
        p1 = p1 < v1 ? v1 : p1;
    }
    float peak = 0;
    for (int k = 0; k < 4; ++k)
        peak = std::max(peak, std::max(p0[k], p1[k]));
    for (; i < n; ++i)
        peak = std::max(peak, std::fabs(x[i]));
    return peak;
}

void scale(float* __restrict x, std::size_t n, float factor) {
    for (std::size_t i = 0; i < n; ++i)
        x[i] *= factor;
}

void clip(float* __restrict x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        x[i] = std::clamp(x[i], -1.0f, 1.0f);
}

void interleave(const float* __restrict left, const float* __restrict right, float* __restrict out,
                std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
}

} // namespace reelbox::dsp
