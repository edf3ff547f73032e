// The note kernel for processors with AVX2: the same scheme as the AVX-512
// kernel (see RenderFastAvx512.cpp) with 8 partials a block and an 8 x 8
// transpose. Called only when the processor has AVX2.

#include "RenderFastKernel.h"

// The instruction set is chosen here, for this file alone (whoever builds it):
// the rest of the program runs on any x86-64 processor.
#pragma GCC target("avx2")

#include <immintrin.h>

namespace marovane_fast {
namespace {

constexpr int kLanes = 8;

inline void Transpose8(__m256 r[8])
{
    __m256 t[8], s[8];
    for (int i = 0; i < 8; i += 2) {
        t[i] = _mm256_unpacklo_ps(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_ps(r[i], r[i + 1]);
    }
    for (int q = 0; q < 8; q += 4) {
        s[q + 0] = _mm256_shuffle_ps(t[q], t[q + 2], _MM_SHUFFLE(1, 0, 1, 0));
        s[q + 1] = _mm256_shuffle_ps(t[q], t[q + 2], _MM_SHUFFLE(3, 2, 3, 2));
        s[q + 2] = _mm256_shuffle_ps(t[q + 1], t[q + 3], _MM_SHUFFLE(1, 0, 1, 0));
        s[q + 3] = _mm256_shuffle_ps(t[q + 1], t[q + 3], _MM_SHUFFLE(3, 2, 3, 2));
    }
    for (int m = 0; m < 4; ++m) {
        r[m] = _mm256_permute2f128_ps(s[m], s[4 + m], 0x20);
        r[4 + m] = _mm256_permute2f128_ps(s[m], s[4 + m], 0x31);
    }
}

template <int NB>
void Group(const NoteKernelArgs& a, int first)
{
    __m256 ph[NB], lev[NB];
    __m256d incLo[NB], incHi[NB];
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b) {
        const int off = first + kLanes * b;
        ph[b] = _mm256_load_ps(a.phase + off);
        lev[b] = _mm256_load_ps(a.level + off);
        incLo[b] = _mm256_load_pd(a.inc + off);
        incHi[b] = _mm256_load_pd(a.inc + off + 4);
    }
    alignas(32) float tile[NB][kLanes][kLanes] = {};
    const __m256 scale = _mm256_set1_ps(32768.0f);
    for (unsigned t0 = 0; t0 < a.frames; t0 += kLanes) {
        const unsigned count = a.frames - t0 < kLanes ? a.frames - t0 : kLanes;
        for (unsigned j = 0; j < count; ++j) {
#pragma GCC unroll 8
            for (int b = 0; b < NB; ++b) {
                const __m256 p = ph[b];
                const __m256 pw = _mm256_sub_ps(p, _mm256_round_ps(p, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
                const __m256i ix = _mm256_cvttps_epi32(_mm256_mul_ps(pw, scale));
                const __m256 w = _mm256_i32gather_ps(a.sine, ix, 4);
                _mm256_store_ps(tile[b][j], _mm256_mul_ps(lev[b], w));
                const __m256d lo = _mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(pw)), incLo[b]);
                const __m256d hi = _mm256_add_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(pw, 1)), incHi[b]);
                ph[b] = _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(lo)), _mm256_cvtpd_ps(hi), 1);
            }
        }
        const __m256 g = _mm256_load_ps(a.gain + t0);
        __m256 mix = _mm256_load_ps(a.mix + t0);
        for (int b = 0; b < NB; ++b) {
            __m256 r[kLanes];
#pragma GCC unroll 8
            for (int j = 0; j < kLanes; ++j)
                r[j] = _mm256_load_ps(tile[b][j]);
            Transpose8(r);
            const int valid = a.partials - (first + kLanes * b);
            if (valid >= kLanes) {
#pragma GCC unroll 8
                for (int k = 0; k < kLanes; ++k)
                    mix = _mm256_add_ps(mix, _mm256_mul_ps(r[k], g));
            } else {
                for (int k = 0; k < valid; ++k)
                    mix = _mm256_add_ps(mix, _mm256_mul_ps(r[k], g));
            }
        }
        _mm256_store_ps(a.mix + t0, mix);
    }
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b)
        _mm256_store_ps(a.phase + first + kLanes * b, ph[b]);
}

} // namespace

void RenderNoteAvx2(const NoteKernelArgs& a)
{
    constexpr int kInFlight = 4;
    int first = 0;
    for (; a.partials - first >= kInFlight * kLanes; first += kInFlight * kLanes)
        Group<kInFlight>(a, first);
    for (; first < a.partials; first += kLanes)
        Group<1>(a, first);
}

} // namespace marovane_fast
