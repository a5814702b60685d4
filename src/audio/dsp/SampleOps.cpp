#include "audio/dsp/SampleOps.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

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

void addSend(const float* __restrict in, float leftGain, float rightGain, float send,
             float* __restrict busLeft, float* __restrict busRight, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const float l = in[i] * leftGain;
        const float r = in[i] * rightGain;
        busLeft[i] += l * send;
        busRight[i] += r * send;
    }
}

namespace {

constexpr std::int32_t magnitudeBits = 0x7fffffff;
constexpr std::int32_t infinityBits = 0x7f800000;

// Whether |v| is at most the largest finite float: false for infinities and NaNs.
inline bool isFinite(float v) {
    return std::fabs(v) <= std::numeric_limits<float>::max();
}

} // namespace

float peakMagnitude(const float* __restrict x, std::size_t n) {
    // Running maxima in vector lanes, on the bit patterns: for non-negative floats they order
    // as the values do, and a pattern from infinity up (infinity, NaN) is taken as 0. The
    // maximum does not depend on the order in which the values are taken.
    using Int4 = std::int32_t __attribute__((vector_size(16)));
    Int4 p0 = {}, p1 = {};
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        Int4 b0, b1;
        std::memcpy(&b0, x + i, sizeof b0);
        std::memcpy(&b1, x + i + 4, sizeof b1);
        b0 &= magnitudeBits; // |x|
        b1 &= magnitudeBits;
        b0 &= b0 < infinityBits;
        b1 &= b1 < infinityBits;
        p0 = p0 < b0 ? b0 : p0;
        p1 = p1 < b1 ? b1 : p1;
    }
    std::int32_t peak = 0;
    for (int k = 0; k < 4; ++k)
        peak = std::max({peak, p0[k], p1[k]});
    float result = std::bit_cast<float>(peak);
    for (; i < n; ++i)
        if (isFinite(x[i]))
            result = std::max(result, std::fabs(x[i]));
    return result;
}

void silenceNonFinite(float* __restrict x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        x[i] = isFinite(x[i]) ? x[i] : 0.0f;
}

void scale(float* __restrict x, std::size_t n, float factor) {
    for (std::size_t i = 0; i < n; ++i)
        x[i] *= factor;
}

void clip(float* __restrict x, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        x[i] = isFinite(x[i]) ? std::clamp(x[i], -1.0f, 1.0f) : 0.0f;
}

void interleave(const float* __restrict left, const float* __restrict right, float* __restrict out,
                std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        out[2 * i] = left[i];
        out[2 * i + 1] = right[i];
    }
}

} // namespace reelbox::dsp
