// The note kernel for every x86-64 processor (SSE2 only), 4 partials a block
// (RenderFastVector.h). SSE2 has no floor: the phase is never negative and
// stays far below 2^31, so truncation to an integer is its floor; nor a
// 32-bit minimum (see Min).

#include "RenderFastKernel.h"

#include <emmintrin.h>

#include "RenderFastVector.h"

namespace marovane_fast {
namespace {

struct Sse2 {
    static constexpr int kLanes = 4;
    using Float = __m128;
    using Double = __m128d;
    using Int = __m128i;
    static constexpr CarryLayout<kLanes> KernelCarry::*kCarry = &KernelCarry::baseline;
    static constexpr bool kSingleReadsAsItSteps = true;
    // 16 registers: too few to hold the increments beside the reads.
    static constexpr bool kHoldsIncrements = false;

    static Float Load(const float* p) { return _mm_load_ps(p); }
    static void Store(float* p, Float v) { _mm_store_ps(p, v); }
    static Float LoadUnaligned(const float* p) { return _mm_loadu_ps(p); }
    static void StoreUnaligned(float* p, Float v) { _mm_storeu_ps(p, v); }
    static Float Splat(float v) { return _mm_set1_ps(v); }
    static Float Add(Float a, Float b) { return _mm_add_ps(a, b); }
    static Float Sub(Float a, Float b) { return _mm_sub_ps(a, b); }
    static Float Mul(Float a, Float b) { return _mm_mul_ps(a, b); }
    static Float Floor(Float p) { return _mm_cvtepi32_ps(_mm_cvttps_epi32(p)); }

    static Double LoadDoubles(const double* p) { return _mm_load_pd(p); }
    static Double AddDoubles(Double a, Double b) { return _mm_add_pd(a, b); }
    static Double WidenLow(Float v) { return _mm_cvtps_pd(v); }
    static Double WidenHigh(Float v) { return _mm_cvtps_pd(_mm_movehl_ps(v, v)); }
    static Float Narrow(Double lo, Double hi) { return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)); }

    static Int Truncate(Float v) { return _mm_cvttps_epi32(v); }
    static Int SplatInt(int v) { return _mm_set1_epi32(v); }
    static Int And(Int a, Int b) { return _mm_and_si128(a, b); }
    static Int SubInt(Int a, Int b) { return _mm_sub_epi32(a, b); }
    // The positions compared lie from 0 to 16384: the upper 16 bits of each
    // lane are 0 and the lower hold a positive 16-bit integer, so the minimum
    // of the 16-bit halves is the minimum of the lanes.
    static Int Min(Int a, Int b) { return _mm_min_epi16(a, b); }
    static Int AndOr(Int a, Int b, Int c) { return _mm_or_si128(_mm_and_si128(a, b), c); }
    static void StoreInt(uint32_t* p, Int v) { _mm_store_si128(reinterpret_cast<__m128i*>(p), v); }
    static Int ZeroInt() { return _mm_setzero_si128(); }
};

} // namespace

template struct VectorKernel<Sse2>;

void RenderNoteBaseline(const NoteKernelArgs& a)
{
    VectorKernel<Sse2>::Render(a);
}

void AdvancePhasesBaseline(const NoteKernelArgs& a)
{
    VectorKernel<Sse2>::Advance(a);
}

void RenderNoteChainBaseline(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry)
{
    VectorKernel<Sse2>::Chain(a, next, carry);
}

} // namespace marovane_fast
