// The note kernel for processors with AVX-512 (F and DQ); called only when the
// processor has them.
//
// Lanes run across partials: 16 partials a block, up to four blocks in flight
// so the phase recurrence's latency is hidden. The phase steps exactly as the
// reference's scalar loop: the wrap (phase - floor(phase), which is what the
// reference's repeated subtraction of 1.0 gives for every phase below 2^24),
// a truncating table read, and float(double(phase) + inc). Each frame's table
// positions are stored as a row of an index tile (16 frames x 16 partials a
// block); the table is read one value at a time (cheaper than a gather on the
// processors measured), a partial's 16 frames after one another, into a
// partial-major value tile. Reading along a partial keeps each store within
// one cache line and lets two values go out as one 64-bit store: the
// processors measured commit about one store a cycle to distinct lines, which
// had bound the kernel when each frame's values went to 16 lines. A row of the
// value tile is one partial over 16 frames, which is scaled (level x w) x
// gain, keeping the float roundings, and added to the mix partial by partial
// in ascending order: each frame receives exactly the reference's sequence of
// float additions.
//
// The index tile of the next 16 frames is filled while the table is read for
// the current one, a frame for every partial row, so the recurrence's vector
// work runs alongside the reads, and carried from one run of 64 partials to
// the next. With a half-mirrored sine the positions are folded into the first
// quarter of each half: the same values, read from half the table's memory.

#include "RenderFastKernel.h"

#include <cstring>

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
// Frames of a tile.
constexpr int kTile = 16;

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

// The table position of a wrapped phase, int(pw x 32768); folded, with a
// half-mirrored table, to the position of the same value in the first
// quarter of its half: (i & 16384) | min(r, 16384 - r) with r = i & 16383.
template <bool kMirrored>
inline __m512i Position(__m512 pw)
{
    const __m512i i = _mm512_cvttps_epi32(_mm512_mul_ps(pw, _mm512_set1_ps(32768.0f)));
    if constexpr (!kMirrored)
        return i;
    const __m512i half = _mm512_set1_epi32(16384);
    const __m512i r = _mm512_and_si512(i, _mm512_set1_epi32(16383));
    const __m512i m = _mm512_min_epu32(r, _mm512_sub_epi32(half, r));
    return _mm512_ternarylogic_epi32(i, half, m, 0xEA); // (i & half) | m
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

// The positions of one frame of every block, stored to frame j of an index
// tile, and the phases stepped on.
template <int NB, bool kMirrored>
inline void Step(__m512* ph, const __m512d* incLo, const __m512d* incHi, uint32_t (*ix)[kTile][kLanes], int j)
{
#pragma GCC unroll 8
    for (int b = 0; b < NB; ++b) {
        const __m512 pw = Wrap(ph[b]);
        _mm512_store_si512(ix[b][j], Position<kMirrored>(pw));
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
    __m512 ph[NB];
    __m512d incLo[NB], incHi[NB];
    LoadBlocks<NB>(a, first, ph, incLo, incHi);
    // ix[t][b][j][k]: the table position of partial 16 b + k of the run
    // at frame j of a tile; t alternates between the current tile and the next.
    // tile[b][k][j]: the table's value there.
    alignas(64) float tile[NB][kLanes][kTile];
    const float* sine = a.sine;
    const unsigned frames = a.frames;
    if (frames < kTile)
        std::memset(tile, 0, sizeof tile);
    int cur = 0;
    if (carry != nullptr && carry->primed) {
        cur = carry->half;
        for (int b = 0; b < NB; ++b)
            ph[b] = _mm512_load_ps(carry->phases[b]);
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
                    if (static_cast<unsigned>(k) < nextCount)
                        Step<NB, kMirrored>(ph, incLo, incHi, ix[cur ^ 1], k);
#pragma GCC unroll 4
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
                        _mm512_store_si512(ix[cur][b][count], _mm512_setzero_si512());
                for (int k = 0; k < kLanes; ++k) {
                    if (static_cast<unsigned>(k) < nextCount)
                        Step<NB, kMirrored>(ph, incLo, incHi, ix[cur ^ 1], k);
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
                _mm512_store_ps(carry->phases[b], ph[b]);
    }
}

// One block: the recurrence alone cannot hide its latency, so each frame's
// values go straight to the value tile as they are read.
template <bool kMirrored>
void Single(const NoteKernelArgs& a, int first)
{
    __m512 ph[1];
    __m512d incLo[1], incHi[1];
    LoadBlocks<1>(a, first, ph, incLo, incHi);
    alignas(64) float tile[1][kLanes][kTile] = {};
    alignas(64) uint32_t ix[kLanes];
    const float* sine = a.sine;
    for (unsigned t0 = 0; t0 < a.frames; t0 += kTile) {
        const unsigned count = a.frames - t0 < kTile ? a.frames - t0 : kTile;
        for (unsigned j = 0; j < count; ++j) {
            const __m512 pw = Wrap(ph[0]);
            _mm512_store_si512(ix, Position<kMirrored>(pw));
            ph[0] = Next(pw, incLo[0], incHi[0]);
#pragma GCC unroll 16
            for (int k = 0; k < kLanes; ++k)
                tile[0][k][j] = sine[ix[k]];
        }
        AddTile<1>(a, first, tile, t0);
    }
    StorePhases<1>(a, first, ph);
}

// Four blocks at a time, then two, then one; a group's last block may be
// partly padding (the arrays are padded to whole blocks).
template <bool kMirrored>
void Render(const NoteKernelArgs& a)
{
    int first = 0;
    const int runs = (a.partials + kLanes - 1) / (4 * kLanes); // while more than three blocks remain
    if (runs > 0) {
        alignas(64) uint32_t ix[2][4][kTile][kLanes];
        Group<4, kMirrored>(a, first, runs, ix);
    }
    first += runs * 4 * kLanes;
    alignas(64) uint32_t ix2[2][2][kTile][kLanes];
    for (; a.partials - first > kLanes; first += 2 * kLanes)
        Group<2, kMirrored>(a, first, 1, ix2);
    for (; first < a.partials; first += kLanes)
        Single<kMirrored>(a, first);
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

// Whole runs of four blocks, carried from the note before and on to `next`.
void Carried(const NoteKernelArgs& a, int runs, const NoteKernelArgs* next, KernelCarry& carry)
{
    static_assert(kTile == 16 && kLanes == 16, "the carried tiles are 16 frames x 16 lanes");
    uint32_t(*ix)[4][kTile][kLanes] = carry.positions;
    if (a.mirrored)
        Group<4, true>(a, 0, runs, ix, next, &carry);
    else
        Group<4, false>(a, 0, runs, ix, next, &carry);
}

} // namespace

void AdvancePhasesAvx512(const NoteKernelArgs& a)
{
    InGroups<8, kLanes, Advance<8>, Advance<1>>(a);
}

void RenderNoteAvx512(const NoteKernelArgs& a)
{
    if (a.mirrored)
        Render<true>(a);
    else
        Render<false>(a);
}

void RenderNoteChainAvx512(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry)
{
    InCarriedRuns<kLanes, RenderNoteAvx512, Carried>(a, next, carry);
}

} // namespace marovane_fast
