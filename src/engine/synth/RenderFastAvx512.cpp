// The note kernel for processors with AVX-512 (F and DQ), 16 partials a
// block (RenderFastVector.h); called only when the processor has them.

#include "RenderFastKernel.h"

// The instruction set is chosen here, for this file alone (whoever builds it):
// the rest of the program runs on any x86-64 processor.
#pragma GCC target("avx512f,avx512dq")

// GCC 12's AVX-512 header leaves the upper half of some conversions undefined
// on purpose and then warns about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include "RenderFastVector.h"

namespace marovane_fast {
namespace {

struct Avx512 {
    static constexpr int kLanes = 16;
    using Float = __m512;
    using Double = __m512d;
    using Int = __m512i;
    static constexpr CarryLayout<kLanes> KernelCarry::*kCarry = &KernelCarry::avx512;
    // Measured faster than a group of one block here.
    static constexpr bool kSingleReadsAsItSteps = true;
    // 32 registers: the increments of the blocks in flight stay in them.
    static constexpr bool kHoldsIncrements = true;

    static Float Load(const float* p) { return _mm512_load_ps(p); }
    static void Store(float* p, Float v) { _mm512_store_ps(p, v); }
    static Float LoadUnaligned(const float* p) { return _mm512_loadu_ps(p); }
    static void StoreUnaligned(float* p, Float v) { _mm512_storeu_ps(p, v); }
    static Float Splat(float v) { return _mm512_set1_ps(v); }
    static Float Add(Float a, Float b) { return _mm512_add_ps(a, b); }
    static Float Sub(Float a, Float b) { return _mm512_sub_ps(a, b); }
    static Float Mul(Float a, Float b) { return _mm512_mul_ps(a, b); }
    static Float Floor(Float p) { return _mm512_roundscale_ps(p, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }

    static Double LoadDoubles(const double* p) { return _mm512_load_pd(p); }
    static Double AddDoubles(Double a, Double b) { return _mm512_add_pd(a, b); }
    static Double WidenLow(Float v) { return _mm512_cvtps_pd(_mm512_castps512_ps256(v)); }
    static Double WidenHigh(Float v) { return _mm512_cvtps_pd(_mm512_extractf32x8_ps(v, 1)); }
    static Float Narrow(Double lo, Double hi)
    {
        return _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(lo)), _mm512_cvtpd_ps(hi), 1);
    }

    static Int Truncate(Float v) { return _mm512_cvttps_epi32(v); }
    static Int SplatInt(int v) { return _mm512_set1_epi32(v); }
    static Int And(Int a, Int b) { return _mm512_and_si512(a, b); }
    static Int SubInt(Int a, Int b) { return _mm512_sub_epi32(a, b); }
    static Int Min(Int a, Int b) { return _mm512_min_epu32(a, b); }
    static Int AndOr(Int a, Int b, Int c) { return _mm512_ternarylogic_epi32(a, b, c, 0xEA); } // (a & b) | c
    static void StoreInt(uint32_t* p, Int v) { _mm512_store_si512(p, v); }
    static Int ZeroInt() { return _mm512_setzero_si512(); }
};

} // namespace

template struct VectorKernel<Avx512>;

void RenderNoteAvx512(const NoteKernelArgs& a)
{
    VectorKernel<Avx512>::Render(a);
}

void AdvancePhasesAvx512(const NoteKernelArgs& a)
{
    VectorKernel<Avx512>::Advance(a);
}

void RenderNoteChainAvx512(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry)
{
    VectorKernel<Avx512>::Chain(a, next, carry);
}

} // namespace marovane_fast
