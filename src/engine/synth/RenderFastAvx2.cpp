// The note kernel for processors with AVX2, 8 partials a block
// (RenderFastVector.h); called only when the processor has AVX2.

#include "RenderFastKernel.h"

// The instruction set is chosen here, for this file alone (whoever builds it):
// the rest of the program runs on any x86-64 processor.
#pragma GCC target("avx2")

#include <immintrin.h>

#include "RenderFastVector.h"

namespace marovane_fast {
namespace {

struct Avx2 {
    static constexpr int kLanes = 8;
    using Float = __m256;
    using Double = __m256d;
    using Int = __m256i;
    static constexpr CarryLayout<kLanes> KernelCarry::*kCarry = &KernelCarry::avx2;
    // A lone block goes through the index tiles like the others.
    static constexpr bool kSingleReadsAsItSteps = false;
    // 16 registers: too few to hold the increments beside the reads.
    static constexpr bool kHoldsIncrements = false;

    static Float Load(const float* p) { return _mm256_load_ps(p); }
    static void Store(float* p, Float v) { _mm256_store_ps(p, v); }
    static Float LoadUnaligned(const float* p) { return _mm256_loadu_ps(p); }
    static void StoreUnaligned(float* p, Float v) { _mm256_storeu_ps(p, v); }
    static Float Splat(float v) { return _mm256_set1_ps(v); }
    static Float Add(Float a, Float b) { return _mm256_add_ps(a, b); }
    static Float Sub(Float a, Float b) { return _mm256_sub_ps(a, b); }
    static Float Mul(Float a, Float b) { return _mm256_mul_ps(a, b); }
    static Float Floor(Float p) { return _mm256_round_ps(p, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC); }

    static Double LoadDoubles(const double* p) { return _mm256_load_pd(p); }
    static Double AddDoubles(Double a, Double b) { return _mm256_add_pd(a, b); }
    static Double WidenLow(Float v) { return _mm256_cvtps_pd(_mm256_castps256_ps128(v)); }
    static Double WidenHigh(Float v) { return _mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)); }
    static Float Narrow(Double lo, Double hi)
    {
        return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(lo)), _mm256_cvtpd_ps(hi), 1);
    }

    static Int Truncate(Float v) { return _mm256_cvttps_epi32(v); }
    static Int SplatInt(int v) { return _mm256_set1_epi32(v); }
    static Int And(Int a, Int b) { return _mm256_and_si256(a, b); }
    static Int SubInt(Int a, Int b) { return _mm256_sub_epi32(a, b); }
    static Int Min(Int a, Int b) { return _mm256_min_epu32(a, b); }
    static Int AndOr(Int a, Int b, Int c) { return _mm256_or_si256(_mm256_and_si256(a, b), c); }
    static void StoreInt(uint32_t* p, Int v) { _mm256_store_si256(reinterpret_cast<__m256i*>(p), v); }
    static Int ZeroInt() { return _mm256_setzero_si256(); }
};

} // namespace

template struct VectorKernel<Avx2>;

void RenderNoteAvx2(const NoteKernelArgs& a)
{
    VectorKernel<Avx2>::Render(a);
}

void AdvancePhasesAvx2(const NoteKernelArgs& a)
{
    VectorKernel<Avx2>::Advance(a);
}

void RenderNoteChainAvx2(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry)
{
    VectorKernel<Avx2>::Chain(a, next, carry);
}

} // namespace marovane_fast
