// The note kernel for every x86-64 processor (SSE2 only): the same scheme as
// the AVX-512 kernel (see RenderFastAvx512.cpp) with 4 partials a block, a
// 4 x 4 transpose and the table read one lane at a time. SSE2 has no floor:
// the phase is never negative and stays far below 2^31, so truncation to an
// integer is its floor.

#include <emmintrin.h>

#include "RenderFastKernel.h"

namespace marovane_fast {
namespace {

constexpr int kLanes = 4;

// The phase recurrence of one block of partials, in the reference's steps:
// the wrap, and the next phase float(double(wrapped) + inc).
inline __m128 Wrap(__m128 p)
{
    return _mm_sub_ps(p, _mm_cvtepi32_ps(_mm_cvttps_epi32(p)));
}

inline __m128 Next(__m128 pw, __m128d incLo, __m128d incHi)
{
    const __m128d lo = _mm_add_pd(_mm_cvtps_pd(pw), incLo);
    const __m128d hi = _mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(pw, pw)), incHi);
    return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
}

// The phases and increments of NB blocks from `first` on, and the phases back.
template <int NB>
inline void LoadBlocks(const NoteKernelArgs& a, int first, __m128* ph, __m128d* incLo, __m128d* incHi)
{
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b) {
        const int off = first + kLanes * b;
        ph[b] = _mm_load_ps(a.phase + off);
        incLo[b] = _mm_load_pd(a.inc + off);
        incHi[b] = _mm_load_pd(a.inc + off + 2);
    }
}

template <int NB>
inline void StorePhases(const NoteKernelArgs& a, int first, const __m128* ph)
{
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b)
        _mm_store_ps(a.phase + first + kLanes * b, ph[b]);
}

template <int NB>
void Group(const NoteKernelArgs& a, int first)
{
    __m128 ph[NB], lev[NB];
    __m128d incLo[NB], incHi[NB];
    LoadBlocks<NB>(a, first, ph, incLo, incHi);
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b)
        lev[b] = _mm_load_ps(a.level + first + kLanes * b);
    alignas(16) float tile[NB][kLanes][kLanes] = {};
    const __m128 scale = _mm_set1_ps(32768.0f);
    for (unsigned t0 = 0; t0 < a.frames; t0 += kLanes) {
        const unsigned count = a.frames - t0 < kLanes ? a.frames - t0 : kLanes;
        for (unsigned j = 0; j < count; ++j) {
#pragma GCC unroll 8
            for (int b = 0; b < NB; ++b) {
                const __m128 pw = Wrap(ph[b]);
                alignas(16) int32_t ix[kLanes];
                _mm_store_si128(reinterpret_cast<__m128i*>(ix), _mm_cvttps_epi32(_mm_mul_ps(pw, scale)));
                const __m128 w = _mm_setr_ps(a.sine[ix[0]], a.sine[ix[1]], a.sine[ix[2]], a.sine[ix[3]]);
                _mm_store_ps(tile[b][j], _mm_mul_ps(lev[b], w));
                ph[b] = Next(pw, incLo[b], incHi[b]);
            }
        }
        const __m128 g = _mm_load_ps(a.gain + t0);
        __m128 mix = _mm_load_ps(a.mix + t0);
        for (int b = 0; b < NB; ++b) {
            __m128 r0 = _mm_load_ps(tile[b][0]);
            __m128 r1 = _mm_load_ps(tile[b][1]);
            __m128 r2 = _mm_load_ps(tile[b][2]);
            __m128 r3 = _mm_load_ps(tile[b][3]);
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            const int valid = a.partials - (first + kLanes * b);
            mix = _mm_add_ps(mix, _mm_mul_ps(r0, g));
            if (valid > 1)
                mix = _mm_add_ps(mix, _mm_mul_ps(r1, g));
            if (valid > 2)
                mix = _mm_add_ps(mix, _mm_mul_ps(r2, g));
            if (valid > 3)
                mix = _mm_add_ps(mix, _mm_mul_ps(r3, g));
        }
        _mm_store_ps(a.mix + t0, mix);
    }
    StorePhases<NB>(a, first, ph);
}

// The phase step alone, NB blocks in flight.
template <int NB>
void Advance(const NoteKernelArgs& a, int first)
{
    __m128 ph[NB];
    __m128d incLo[NB], incHi[NB];
    LoadBlocks<NB>(a, first, ph, incLo, incHi);
    for (unsigned j = 0; j < a.frames; ++j) {
#pragma GCC unroll 8
        for (int b = 0; b < NB; ++b)
            ph[b] = Next(Wrap(ph[b]), incLo[b], incHi[b]);
    }
    StorePhases<NB>(a, first, ph);
}

} // namespace

void AdvancePhasesBaseline(const NoteKernelArgs& a)
{
    InGroups<8, kLanes, Advance<8>, Advance<1>>(a);
}

void RenderNoteBaseline(const NoteKernelArgs& a)
{
    InGroups<4, kLanes, Group<4>, Group<1>>(a);
}

} // namespace marovane_fast
