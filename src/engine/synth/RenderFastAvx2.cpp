// The note kernel for processors with AVX2: the same scheme as the AVX-512
// kernel (see RenderFastAvx512.cpp) with 8 partials a block, up to four
// blocks in flight. The table is read one value at a time (cheaper than
// _mm256_i32gather_ps on the processors measured), a partial's frames after
// one another into a partial-major tile, so no transpose is needed. Called
// only when the processor has AVX2.

#include "RenderFastKernel.h"

#include <cstring>

// The instruction set is chosen here, for this file alone (whoever builds it):
// the rest of the program runs on any x86-64 processor.
#pragma GCC target("avx2")

#include <immintrin.h>

namespace marovane_fast {
namespace {

constexpr int kLanes = 8;
// Frames a tile holds: 16, two vectors.
constexpr int kTile = 16;
constexpr int kVecs = kTile / kLanes;

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

// The table position of a wrapped phase, int(pw x 32768); folded, with a
// half-mirrored table, to the position of the same value in the first
// quarter of its half: (i & 16384) | min(r, 16384 - r) with r = i & 16383.
template <bool kMirrored>
inline __m256i Position(__m256 pw)
{
    const __m256i i = _mm256_cvttps_epi32(_mm256_mul_ps(pw, _mm256_set1_ps(32768.0f)));
    if constexpr (!kMirrored)
        return i;
    const __m256i half = _mm256_set1_epi32(16384);
    const __m256i r = _mm256_and_si256(i, _mm256_set1_epi32(16383));
    const __m256i m = _mm256_min_epu32(r, _mm256_sub_epi32(half, r));
    return _mm256_or_si256(_mm256_and_si256(i, half), m);
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

// The positions of one frame of every block, stored to frame j of an index
// tile, and the phases stepped on.
template <int NB, bool kMirrored>
inline void Step(__m256* ph, const __m256d* incLo, const __m256d* incHi, uint32_t (*ix)[kTile][kLanes], int j)
{
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b) {
        const __m256 pw = Wrap(ph[b]);
        _mm256_store_si256(reinterpret_cast<__m256i*>(ix[b][j]), Position<kMirrored>(pw));
        ph[b] = Next(pw, incLo[b], incHi[b]);
    }
}

// Partial k's frames 0 to 2 x pairs - 1 of a tile read from the table, two
// frames to a 64-bit store (this processor is little-endian: the earlier
// frame is the low half).
template <int kPairs>
inline void ReadRow(const float* sine, const uint32_t (*ix)[kLanes], int k, float* row, int pairs = kPairs)
{
#pragma GCC unroll 8
    for (int j = 0; j < 2 * (kPairs > 0 ? kPairs : pairs); j += 2) {
        uint32_t first, second;
        __builtin_memcpy(&first, sine + ix[j][k], sizeof first);
        __builtin_memcpy(&second, sine + ix[j + 1][k], sizeof second);
        const uint64_t pair = first | static_cast<uint64_t>(second) << 32;
        __builtin_memcpy(row + j, &pair, sizeof pair);
    }
}

// Adds the tile's partials to 16 frames of the mix, in ascending order.
template <int NB>
inline void AddTile(const NoteKernelArgs& a, int first, const float (*tile)[kLanes][kTile], unsigned t0)
{
    __m256 g[kVecs], mix[kVecs];
#pragma GCC unroll 4
    for (int v = 0; v < kVecs; ++v) {
        g[v] = _mm256_loadu_ps(a.gain + t0 + kLanes * v);
        mix[v] = _mm256_loadu_ps(a.mix + t0 + kLanes * v);
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
        _mm256_storeu_ps(a.mix + t0 + kLanes * v, mix[v]);
}

// `sets` runs of NB blocks of partials from `first` on, one after the other,
// over the whole buffer. The positions of a run's first tile are computed
// while the run before reads its last one: only the first run starts with
// positions alone, and not even that one when `carry` is primed with them by
// the note before. With `next`, the positions of its first tile are computed
// while this note's last tile is read, and left in `carry`. `ix` is the
// index tiles' storage: `carry`'s own when there is one.
template <int NB, bool kMirrored>
void Group(const NoteKernelArgs& a, int first, int sets, uint32_t (*ix)[NB][kTile][kLanes],
           const NoteKernelArgs* next = nullptr, KernelCarry* carry = nullptr)
{
    __m256 ph[NB];
    __m256d incLo[NB], incHi[NB];
    LoadBlocks<NB>(a, first, ph, incLo, incHi);
    // ix[t][b][j][k]: the table position of partial 8 b + k of the run
    // at frame j of a tile; t alternates between the current tile and the next.
    // tile[b][k][j]: the table's value there.
    alignas(32) float tile[NB][kLanes][kTile];
    const float* sine = a.sine;
    const unsigned frames = a.frames;
    if (frames < kTile)
        std::memset(tile, 0, sizeof tile);
    int cur = 0;
    if (carry != nullptr && carry->primed) {
        cur = carry->half;
        for (int b = 0; b < NB; ++b)
            ph[b] = _mm256_load_ps(carry->phases[b]);
    } else {
        for (unsigned j = 0; j < frames && j < kTile; ++j)
            Step<NB, kMirrored>(ph, incLo, incHi, ix[0], static_cast<int>(j));
    }
    for (int run = 0; run < sets; ++run) {
        const int base = first + run * NB * kLanes;
        for (unsigned t0 = 0; t0 < frames; t0 += kTile, cur ^= 1) {
            const unsigned count = frames - t0 < kTile ? frames - t0 : kTile;
            unsigned nextCount = frames - t0 - count < kTile ? frames - t0 - count : kTile;
            if (t0 + count == frames) {
                // The run's phases are final; the next run's first tile (or
                // the next note's) is the next one.
                StorePhases<NB>(a, base, ph);
                nextCount = 0;
                if (run + 1 < sets) {
                    LoadBlocks<NB>(a, base + NB * kLanes, ph, incLo, incHi);
                    nextCount = frames < kTile ? frames : kTile;
                } else if (next != nullptr) {
                    LoadBlocks<NB>(*next, first, ph, incLo, incHi);
                    nextCount = frames < kTile ? frames : kTile;
                }
            }
            if (count == kTile) {
                for (int k = 0; k < kLanes; ++k) {
                    for (int h = 0; h < 2; ++h)
                        if (static_cast<unsigned>(2 * k + h) < nextCount)
                            Step<NB, kMirrored>(ph, incLo, incHi, ix[cur ^ 1], 2 * k + h);
#pragma GCC unroll 8
                    for (int b = 0; b < NB; ++b)
                        ReadRow<kTile / 2>(sine, ix[cur][b], k, tile[b][k]);
                }
            } else {
                // The last, shorter tile: the frames up to an even count are
                // read, an odd count's last pair reading entry 0 for its
                // second frame; the frames past those keep the values of the
                // tile before, or 0. Their gain is 0, so they add nothing.
                const int pairs = static_cast<int>(count + 1) / 2;
                if (count % 2 != 0)
                    for (int b = 0; b < NB; ++b)
                        _mm256_store_si256(reinterpret_cast<__m256i*>(ix[cur][b][count]), _mm256_setzero_si256());
                for (int k = 0; k < kLanes; ++k) {
                    for (int h = 0; h < 2; ++h)
                        if (static_cast<unsigned>(2 * k + h) < nextCount)
                            Step<NB, kMirrored>(ph, incLo, incHi, ix[cur ^ 1], 2 * k + h);
                    for (int b = 0; b < NB; ++b)
                        ReadRow<0>(sine, ix[cur][b], k, tile[b][k], pairs);
                }
            }
            AddTile<NB>(a, base, tile, t0);
        }
    }
    if (carry != nullptr) {
        carry->primed = next != nullptr;
        carry->half = cur;
        if (next != nullptr)
            for (int b = 0; b < NB; ++b)
                _mm256_store_ps(carry->phases[b], ph[b]);
    }
}

// Four blocks at a time, then two, then one (eight in flight measured slower
// here); a group's last block may be partly padding (the arrays are padded to
// whole 16-lane blocks).
template <bool kMirrored>
void Render(const NoteKernelArgs& a)
{
    int first = 0;
    const int runs = (a.partials + kLanes - 1) / (4 * kLanes); // while more than three blocks remain
    if (runs > 0) {
        alignas(32) uint32_t ix[2][4][kTile][kLanes];
        Group<4, kMirrored>(a, first, runs, ix);
    }
    first += runs * 4 * kLanes;
    alignas(32) uint32_t ix2[2][2][kTile][kLanes];
    for (; a.partials - first > kLanes; first += 2 * kLanes)
        Group<2, kMirrored>(a, first, 1, ix2);
    alignas(32) uint32_t ix1[2][1][kTile][kLanes];
    for (; first < a.partials; first += kLanes)
        Group<1, kMirrored>(a, first, 1, ix1);
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

// Whole runs of four blocks, carried from the note before and on to `next`.
void Carried(const NoteKernelArgs& a, int runs, const NoteKernelArgs* next, KernelCarry& carry)
{
    // The carried tiles hold 16 lanes a row; these use the first 8 of each
    // row's storage as rows of 8.
    static_assert(sizeof carry.positions >= sizeof(uint32_t[2][4][kTile][kLanes]));
    auto* ix = reinterpret_cast<uint32_t(*)[4][kTile][kLanes]>(&carry.positions[0][0][0][0]);
    if (a.mirrored)
        Group<4, true>(a, 0, runs, ix, next, &carry);
    else
        Group<4, false>(a, 0, runs, ix, next, &carry);
}

} // namespace

void AdvancePhasesAvx2(const NoteKernelArgs& a)
{
    InGroups<8, kLanes, Advance<8>, Advance<1>>(a);
}

void RenderNoteAvx2(const NoteKernelArgs& a)
{
    if (a.mirrored)
        Render<true>(a);
    else
        Render<false>(a);
}

void RenderNoteChainAvx2(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry)
{
    InCarriedRuns<kLanes, RenderNoteAvx2, Carried>(a, next, carry);
}

} // namespace marovane_fast
