// The note kernel for processors with AVX-512 (F and DQ); called only when the
// processor has them.
//
// Lanes run across partials: 16 partials a block, two blocks in flight so the
// phase recurrence's latency is hidden. The phase steps exactly as the
// reference's scalar loop: the wrap (phase - floor(phase), which is what the
// reference's repeated subtraction of 1.0 gives for every phase below 2^24),
// a truncating table read, and float(double(phase) + inc). The table is read
// one lane at a time (cheaper than a gather on the processors measured) and
// each value stored straight to a partial-major tile of 16 partials x 16
// frames; a row of that tile is one partial over 16 frames, which is scaled
// (level x w) x gain, keeping the float roundings, and added to the mix
// partial by partial in ascending order: each frame receives exactly the
// reference's sequence of float additions.

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

namespace marovane_fast {
namespace {

constexpr int kLanes = 16;

// The phase recurrence of one block of partials, in the reference's steps:
// the wrap, and the next phase float(double(wrapped) + inc).
inline __m512 Wrap(__m512 p)
{
    return _mm512_sub_ps(p, _mm512_roundscale_ps(p, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
}

inline __m512 Next(__m512 pw, __m512d incLo, __m512d incHi)
{
    const __m512d lo = _mm512_add_pd(_mm512_cvtps_pd(_mm512_castps512_ps256(pw)), incLo);
    const __m512d hi = _mm512_add_pd(_mm512_cvtps_pd(_mm512_extractf32x8_ps(pw, 1)), incHi);
    return _mm512_insertf32x8(_mm512_castps256_ps512(_mm512_cvtpd_ps(lo)), _mm512_cvtpd_ps(hi), 1);
}

// The phases and increments of NB blocks from `first` on, and the phases back.
template <int NB>
inline void LoadBlocks(const NoteKernelArgs& a, int first, __m512* ph, __m512d* incLo, __m512d* incHi)
{
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b) {
        const int off = first + kLanes * b;
        ph[b] = _mm512_load_ps(a.phase + off);
        incLo[b] = _mm512_load_pd(a.inc + off);
        incHi[b] = _mm512_load_pd(a.inc + off + 8);
    }
}

template <int NB>
inline void StorePhases(const NoteKernelArgs& a, int first, const __m512* ph)
{
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b)
        _mm512_store_ps(a.phase + first + kLanes * b, ph[b]);
}

// The table read one lane at a time, each value stored straight to its place
// in a partial-major tile: no gather, no transpose.
template <int NB>
void Group(const NoteKernelArgs& a, int first)
{
    __m512 ph[NB];
    __m512d incLo[NB], incHi[NB];
    LoadBlocks<NB>(a, first, ph, incLo, incHi);
    // tile[b][k][j]: partial first + 16 b + k, frame t0 + j.
    alignas(64) float tile[NB][kLanes][kLanes] = {};
    alignas(64) uint32_t ix[NB][kLanes];
    const __m512 scale = _mm512_set1_ps(32768.0f);
    const float* sine = a.sine;
    for (unsigned t0 = 0; t0 < a.frames; t0 += kLanes) {
        const unsigned count = a.frames - t0 < kLanes ? a.frames - t0 : kLanes;
        for (unsigned j = 0; j < count; ++j) {
#pragma GCC unroll 8
            for (int b = 0; b < NB; ++b) {
                const __m512 pw = Wrap(ph[b]);
                _mm512_store_si512(ix[b], _mm512_cvttps_epi32(_mm512_mul_ps(pw, scale)));
                ph[b] = Next(pw, incLo[b], incHi[b]);
#pragma GCC unroll 16
                for (int k = 0; k < kLanes; k += 2) {
                    uint64_t pair;
                    __builtin_memcpy(&pair, &ix[b][k], sizeof pair);
                    tile[b][k][j] = sine[static_cast<uint32_t>(pair)];
                    tile[b][k + 1][j] = sine[pair >> 32];
                }
            }
        }
        const __m512 g = _mm512_loadu_ps(a.gain + t0);
        __m512 mix = _mm512_loadu_ps(a.mix + t0);
        for (int b = 0; b < NB; ++b) {
            const int base = first + kLanes * b;
            const int valid = a.partials - base < kLanes ? a.partials - base : kLanes;
            for (int k = 0; k < valid; ++k) {
                const __m512 lw = _mm512_mul_ps(_mm512_set1_ps(a.level[base + k]), _mm512_load_ps(tile[b][k]));
                mix = _mm512_add_ps(mix, _mm512_mul_ps(lw, g));
            }
        }
        _mm512_storeu_ps(a.mix + t0, mix);
    }
    StorePhases<NB>(a, first, ph);
}

// The phase step alone, NB blocks in flight.
template <int NB>
void Advance(const NoteKernelArgs& a, int first)
{
    __m512 ph[NB];
    __m512d incLo[NB], incHi[NB];
    LoadBlocks<NB>(a, first, ph, incLo, incHi);
    for (unsigned j = 0; j < a.frames; ++j) {
#pragma GCC unroll 8
        for (int b = 0; b < NB; ++b)
            ph[b] = Next(Wrap(ph[b]), incLo[b], incHi[b]);
    }
    StorePhases<NB>(a, first, ph);
}

} // namespace

void AdvancePhasesAvx512(const NoteKernelArgs& a)
{
    InGroups<8, kLanes, Advance<8>, Advance<1>>(a);
}

void RenderNoteAvx512(const NoteKernelArgs& a)
{
    InGroups<2, kLanes, Group<2>, Group<1>>(a);
}

} // namespace marovane_fast
