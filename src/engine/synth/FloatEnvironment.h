#pragma once
// The render's floating-point environment: round to nearest, subnormal
// numbers kept (no flush to zero), every exception masked: the processor's
// default. Every render runs in it, whatever the calling thread had set, and
// gives the caller's back afterwards, so the sound is defined to the last bit
// in any host (RenderFast.h).
//
// Any thread; touches only the calling thread's own control register.

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#elif !defined(__aarch64__)
#include <cfenv>
#endif

namespace marovane_fp {

#if defined(__x86_64__) || defined(__i386__)
// MXCSR: all exceptions masked, round to nearest, neither flush-to-zero nor
// denormals-are-zero.
using Control = unsigned;
inline Control Get() { return _mm_getcsr(); }
inline void Set(Control c) { _mm_setcsr(c); }
inline Control Default(Control) { return 0x1F80; }
// The pause of a spin-wait.
inline void Relax() { _mm_pause(); }
#elif defined(__aarch64__)
// FPCR: rounding mode (bits 22-23), flush-to-zero (24), default NaN (25),
// alternative half precision (26) and the exception traps (8-12, 15) cleared;
// the rest is left as the system keeps it.
using Control = uint64_t;
inline Control Get()
{
    Control c;
    asm volatile("mrs %0, fpcr" : "=r"(c));
    return c;
}
inline void Set(Control c) { asm volatile("msr fpcr, %0" : : "r"(c)); }
inline Control Default(Control c)
{
    constexpr Control kChanged = (Control{3} << 22) | (Control{1} << 24) | (Control{1} << 25) | (Control{1} << 26) |
                                 (Control{0x1F} << 8) | (Control{1} << 15);
    return c & ~kChanged;
}
inline void Relax() { asm volatile("yield"); }
#else
// Elsewhere only the rounding mode can be set portably.
using Control = int;
inline Control Get() { return std::fegetround(); }
inline void Set(Control c) { std::fesetround(c); }
inline Control Default(Control) { return FE_TONEAREST; }
inline void Relax() {}
#endif

// For a thread that only ever renders (the two-thread render's helper).
inline void UseDefault() { Set(Default(Get())); }

// The default environment for the lifetime of the object, the caller's again
// afterwards.
class FixedEnvironment {
public:
    FixedEnvironment() : saved_(Get())
    {
        if (Default(saved_) != saved_)
            Set(Default(saved_));
    }
    ~FixedEnvironment()
    {
        if (Default(saved_) != saved_)
            Set(saved_);
    }
    FixedEnvironment(const FixedEnvironment&) = delete;
    FixedEnvironment& operator=(const FixedEnvironment&) = delete;

private:
    Control saved_;
};

} // namespace marovane_fp
