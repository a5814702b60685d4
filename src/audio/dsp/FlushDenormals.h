#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace reelbox::dsp {

// Treats subnormal numbers as zero (flush-to-zero and denormals-are-zero) for as long as it
// lives, then restores the caller's floating-point mode. Every process() call of the effects
// holds one: a recursive filter or reverb that rings out into silence would otherwise spend
// its time on subnormal arithmetic, many times slower than normal numbers, and the mode also
// lets decaying state reach exact zero. Values that small are far below anything audible.
class ScopedFlushDenormals {
public:
    ScopedFlushDenormals() noexcept {
#if defined(__x86_64__) || defined(__i386__)
        m_saved = _mm_getcsr();
        _mm_setcsr(m_saved | 0x8040u); // FTZ (bit 15) | DAZ (bit 6)
#elif defined(__aarch64__)
        asm volatile("mrs %0, fpcr" : "=r"(m_saved));
        asm volatile("msr fpcr, %0" : : "r"(m_saved | (std::uint64_t{1} << 24))); // FZ
#endif
    }
    ~ScopedFlushDenormals() {
#if defined(__x86_64__) || defined(__i386__)
        _mm_setcsr(m_saved);
#elif defined(__aarch64__)
        asm volatile("msr fpcr, %0" : : "r"(m_saved));
#endif
    }
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
#if defined(__x86_64__) || defined(__i386__)
    unsigned m_saved = 0;
#else
    std::uint64_t m_saved = 0;
#endif
};

} // namespace reelbox::dsp
