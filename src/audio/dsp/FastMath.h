#pragma once

#include <bit>
#include <cstdint>

namespace reelbox::dsp {

// 2^x in single precision, for gain curves: a degree-6 polynomial on [-0.5, 0.5] (Cephes'
// exp2f coefficients) scaled by a power of two built in the exponent bits. Within about
// 2 ulp of the exact value, exactly 1 at x = 0, and plain arithmetic without branches that
// the compiler vectorises in a loop. x must lie within -126 ... 126.
inline float fastExp2(float x) {
    const std::int32_t whole = static_cast<std::int32_t>(x + 127.5f) - 127; // round(x)
    const float f = x - static_cast<float>(whole);
    float p = 1.535336188319500e-4f;
    p = p * f + 1.339887440266574e-3f;
    p = p * f + 9.618437357674640e-3f;
    p = p * f + 5.550332471162809e-2f;
    p = p * f + 2.402264791363012e-1f;
    p = p * f + 6.931472028550421e-1f;
    p = p * f + 1.0f;
    return p * std::bit_cast<float>((whole + 127) << 23);
}

} // namespace reelbox::dsp
