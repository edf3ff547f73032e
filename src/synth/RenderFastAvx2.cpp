// The note kernel for processors with AVX2: the same scheme as the AVX-512
// kernel (see RenderFastAvx512.cpp) with 8 partials a block. The table is read
// one lane at a time (cheaper than _mm256_i32gather_ps on the processors
// measured) and each value stored straight to a partial-major tile, so no
// transpose is needed. Called only when the processor has AVX2.

#include "RenderFastKernel.h"

// The instruction set is chosen here, for this file alone (whoever builds it):
// the rest of the program runs on any x86-64 processor.
#pragma GCC target("avx2")

#include <immintrin.h>

namespace marovane_fast {
namespace {

constexpr int kLanes = 8;
// Frames a tile holds: a multiple of 8 that divides 256. In the last tile of a
// buffer the frames past `frames` hold stale (finite) values; their gain is 0,
// so they add nothing.
constexpr int kFrames = 16;
constexpr int kVecs = kFrames / kLanes;

// The phase recurrence of one block of partials, in the reference's steps:
// the wrap, and the next phase float(double(wrapped) + inc).
inline __m256 Wrap(__m256 p)
{
    return _mm256_sub_ps(p, _mm256_round_ps(p, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
}

inline __m256 Next(__m256 pw, __m256d incLo, __m256d incHi)
{
    const __m256d lo = _mm256_add_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(pw)), incLo);
    const __m256d hi = _mm256_add_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(pw, 1)), incHi);
    return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm256_cvtpd_ps(lo)), _mm256_cvtpd_ps(hi), 1);
}

// The phases and increments of NB blocks from `first` on, and the phases back.
template <int NB>
inline void LoadBlocks(const NoteKernelArgs& a, int first, __m256* ph, __m256d* incLo, __m256d* incHi)
{
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b) {
        const int off = first + kLanes * b;
        ph[b] = _mm256_load_ps(a.phase + off);
        incLo[b] = _mm256_load_pd(a.inc + off);
        incHi[b] = _mm256_load_pd(a.inc + off + 4);
    }
}

template <int NB>
inline void StorePhases(const NoteKernelArgs& a, int first, const __m256* ph)
{
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b)
        _mm256_store_ps(a.phase + first + kLanes * b, ph[b]);
}

template <int NB>
void Group(const NoteKernelArgs& a, int first)
{
    __m256 ph[NB];
    __m256d incLo[NB], incHi[NB];
    LoadBlocks<NB>(a, first, ph, incLo, incHi);
    // tile[b][k][j]: partial first + 8 b + k, frame t0 + j.
    alignas(32) float tile[NB][kLanes][kFrames] = {};
    alignas(32) uint32_t ix[NB][kLanes];
    const __m256 scale = _mm256_set1_ps(32768.0f);
    const float* sine = a.sine;
    for (unsigned t0 = 0; t0 < a.frames; t0 += kFrames) {
        const unsigned count = a.frames - t0 < kFrames ? a.frames - t0 : kFrames;
        for (unsigned j = 0; j < count; ++j) {
#pragma GCC unroll 8
            for (int b = 0; b < NB; ++b) {
                const __m256 pw = Wrap(ph[b]);
                _mm256_store_si256(reinterpret_cast<__m256i*>(ix[b]), _mm256_cvttps_epi32(_mm256_mul_ps(pw, scale)));
                ph[b] = Next(pw, incLo[b], incHi[b]);
#pragma GCC unroll 8
                for (int k = 0; k < kLanes; k += 2) {
                    uint64_t pair;
                    __builtin_memcpy(&pair, &ix[b][k], sizeof pair);
                    tile[b][k][j] = sine[static_cast<uint32_t>(pair)];
                    tile[b][k + 1][j] = sine[pair >> 32];
                }
            }
        }
        __m256 g[kVecs], mix[kVecs];
#pragma GCC unroll 4
        for (int v = 0; v < kVecs; ++v) {
            g[v] = _mm256_load_ps(a.gain + t0 + kLanes * v);
            mix[v] = _mm256_load_ps(a.mix + t0 + kLanes * v);
        }
        for (int b = 0; b < NB; ++b) {
            const int base = first + kLanes * b;
            const int valid = a.partials - base < kLanes ? a.partials - base : kLanes;
            for (int k = 0; k < valid; ++k) {
                const __m256 l = _mm256_set1_ps(a.level[base + k]);
#pragma GCC unroll 4
                for (int v = 0; v < kVecs; ++v) {
                    const __m256 lw = _mm256_mul_ps(l, _mm256_load_ps(tile[b][k] + kLanes * v));
                    mix[v] = _mm256_add_ps(mix[v], _mm256_mul_ps(lw, g[v]));
                }
            }
        }
#pragma GCC unroll 4
        for (int v = 0; v < kVecs; ++v)
            _mm256_store_ps(a.mix + t0 + kLanes * v, mix[v]);
    }
    StorePhases<NB>(a, first, ph);
}

// The phase step alone, NB blocks in flight.
template <int NB>
void Advance(const NoteKernelArgs& a, int first)
{
    __m256 ph[NB];
    __m256d incLo[NB], incHi[NB];
    LoadBlocks<NB>(a, first, ph, incLo, incHi);
    for (unsigned j = 0; j < a.frames; ++j) {
#pragma GCC unroll 8
        for (int b = 0; b < NB; ++b)
            ph[b] = Next(Wrap(ph[b]), incLo[b], incHi[b]);
    }
    StorePhases<NB>(a, first, ph);
}

} // namespace

void AdvancePhasesAvx2(const NoteKernelArgs& a)
{
    InGroups<8, kLanes, Advance<8>, Advance<1>>(a);
}

void RenderNoteAvx2(const NoteKernelArgs& a)
{
    InGroups<4, kLanes, Group<4>, Group<1>>(a);
}

} // namespace marovane_fast
