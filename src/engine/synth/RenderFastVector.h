#pragma once
// The vector note kernel, one for every instruction set: a template over the
// set's traits, instantiated once by each of RenderFastBaseline.cpp (SSE2),
// RenderFastAvx2.cpp and RenderFastAvx512.cpp, each compiled for its own set.
// A file includes this header after it has chosen its instruction set, so that
// the template is compiled for that set, and defines its traits in an unnamed
// namespace, so that nothing instantiated here can be shared by the linker
// with another file's copy. This header includes nothing of its own beyond
// RenderFastKernel.h: a standard header included after the choice would
// compile its inline functions for that set too.
//
// Lanes run across partials: kLanes partials a block, up to four blocks in
// flight so the phase recurrence's latency is hidden. The phase steps exactly
// as the reference's scalar loop: the wrap (phase - floor(phase), which is
// what the reference's repeated subtraction of 1.0 gives for every phase below
// 2^24), a truncating table read, and float(double(phase) + inc). Each frame's
// table positions are stored as a row of an index tile (16 frames x kLanes
// partials a block); the table is read one value at a time (cheaper than a
// gather on the processors measured), a partial's 16 frames after one
// another, into a partial-major value tile. Reading along a partial keeps each
// store within one cache line and lets two values go out as one 64-bit store:
// the processors measured commit about one store a cycle to distinct lines,
// which had bound the kernel when each frame's values went to 16 lines. A row
// of the value tile is one partial over 16 frames, which is scaled (level x w)
// x gain, keeping the float roundings, and added to the mix partial by
// partial in ascending order: each frame receives exactly the reference's
// sequence of float additions.
//
// The index tile of the next 16 frames is filled while the table is read for
// the current one, 16 / kLanes frames for every partial row, so the
// recurrence's vector work runs alongside the reads, and carried from one run
// of four blocks to the next, and (Chain) from one note to the next. With a
// half-mirrored sine the positions are folded into the first quarter of each
// half: the same values, read from half the table's memory.
//
// The traits T give:
//   kLanes                      floats a vector holds (4, 8 or 16)
//   Float, Double, Int          the vectors: kLanes floats, kLanes / 2 doubles,
//                               kLanes 32-bit integers
//   kCarry                      the member of KernelCarry that is this set's layout
//   kSingleReadsAsItSteps       a lone block reads each frame's values as its
//                               positions are computed (Single) rather than
//                               through index tiles (Group<1>)
//   kHoldsIncrements            the increments of the blocks in flight stay in
//                               registers while the table is read (Increments)
//   Load, Store                 aligned; LoadUnaligned, StoreUnaligned; Splat
//   Add, Sub, Mul, Floor        float lanes (Floor: toward minus infinity, for
//                               phases from 0 below 2^24)
//   LoadDoubles, AddDoubles     the increments
//   WidenLow, WidenHigh, Narrow the lower and upper halves of a Float to
//                               Doubles, and two Doubles rounded back to one Float
//   Truncate                    Float to Int, toward zero
//   SplatInt, And, SubInt, Min, AndOr (a & b) | c, StoreInt (aligned), ZeroInt
//                               for positions from 0 to 32768

#include "RenderFastKernel.h"

namespace marovane_fast {

template <class T>
struct VectorKernel {
    using F = typename T::Float;
    using D = typename T::Double;
    using I = typename T::Int;
    static constexpr int kLanes = T::kLanes;
    static constexpr int kTile = kKernelTile;
    // Vectors to a tile's row of 16 frames, and index rows filled for each
    // partial row read.
    static constexpr int kVecs = kTile / kLanes;
    static_assert(kTile % kLanes == 0 && kLanes <= 16, "the arrays are padded to 16 lanes");
    using Carry = CarryLayout<kLanes>;

    // The phase recurrence of one block of partials, in the reference's
    // steps: the wrap, and the next phase float(double(wrapped) + inc).
    static F Wrap(F p) { return T::Sub(p, T::Floor(p)); }

    static F Next(F pw, D incLo, D incHi)
    {
        return T::Narrow(T::AddDoubles(T::WidenLow(pw), incLo), T::AddDoubles(T::WidenHigh(pw), incHi));
    }

    // The table position of a wrapped phase, int(pw x 32768); folded, with a
    // half-mirrored table, to the position of the same value in the first
    // quarter of its half: (i & 16384) | min(r, 16384 - r) with r = i & 16383.
    template <bool kMirrored>
    static I Position(F pw)
    {
        const I i = T::Truncate(T::Mul(pw, T::Splat(32768.0f)));
        if constexpr (!kMirrored)
            return i;
        const I half = T::SplatInt(16384);
        const I r = T::And(i, T::SplatInt(16383));
        return T::AndOr(i, half, T::Min(r, T::SubInt(half, r)));
    }

    // The phases and increments of NB blocks from `first` on, and the phases back.
    template <int NB>
    static void LoadBlocks(const NoteKernelArgs& a, int first, F* ph, D* incLo, D* incHi)
    {
#pragma GCC unroll 8
        for (int b = 0; b < NB; ++b) {
            const int off = first + kLanes * b;
            ph[b] = T::Load(a.phase + off);
            incLo[b] = T::LoadDoubles(a.inc + off);
            incHi[b] = T::LoadDoubles(a.inc + off + kLanes / 2);
        }
    }

    template <int NB>
    static void LoadPhases(const NoteKernelArgs& a, int first, F* ph)
    {
#pragma GCC unroll 8
        for (int b = 0; b < NB; ++b)
            ph[b] = T::Load(a.phase + first + kLanes * b);
    }

    template <int NB>
    static void StorePhases(const NoteKernelArgs& a, int first, const F* ph)
    {
#pragma GCC unroll 8
        for (int b = 0; b < NB; ++b)
            T::Store(a.phase + first + kLanes * b, ph[b]);
    }

    // The increments of NB blocks in flight, from `at` on: held in registers
    // where the set has registers enough for them beside the table reads
    // (T::kHoldsIncrements), otherwise read where they are used. Held in a
    // set of 16 registers, they crowd out the registers the reads need, and
    // some go to the stack and back for every row read.
    template <int NB>
    struct Increments {
        const double* at;
        D lo[NB], hi[NB];

        explicit Increments(const double* from) { Load(from); }
        void Load(const double* from)
        {
            at = from;
            if constexpr (T::kHoldsIncrements) {
#pragma GCC unroll 8
                for (int b = 0; b < NB; ++b) {
                    lo[b] = T::LoadDoubles(from + kLanes * b);
                    hi[b] = T::LoadDoubles(from + kLanes * b + kLanes / 2);
                }
            }
        }
        D Lo(int b) const
        {
            if constexpr (T::kHoldsIncrements)
                return lo[b];
            else
                return T::LoadDoubles(at + kLanes * b);
        }
        D Hi(int b) const
        {
            if constexpr (T::kHoldsIncrements)
                return hi[b];
            else
                return T::LoadDoubles(at + kLanes * b + kLanes / 2);
        }
    };

    // The positions of one frame of every block, stored to frame j of an
    // index tile, and the phases stepped on.
    template <int NB, bool kMirrored>
    static void Step(F* ph, const Increments<NB>& inc, uint32_t (*ix)[kTile][kLanes], int j)
    {
#pragma GCC unroll 8
        for (int b = 0; b < NB; ++b) {
            const F pw = Wrap(ph[b]);
            T::StoreInt(ix[b][j], Position<kMirrored>(pw));
            ph[b] = Next(pw, inc.Lo(b), inc.Hi(b));
        }
    }

    // Partial k's frames 0 to 2 x pairs - 1 of a tile read from the table, two
    // frames to a 64-bit store (this processor is little-endian: the earlier
    // frame is the low half).
    template <int kPairs>
    static void ReadRow(const float* sine, const uint32_t (*ix)[kLanes], int k, float* row, int pairs = kPairs)
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
    static void AddTile(const NoteKernelArgs& a, int first, const float (*tile)[kLanes][kTile], unsigned t0)
    {
        F g[kVecs], mix[kVecs];
#pragma GCC unroll 4
        for (int v = 0; v < kVecs; ++v) {
            g[v] = T::LoadUnaligned(a.gain + t0 + kLanes * v);
            mix[v] = T::LoadUnaligned(a.mix + t0 + kLanes * v);
        }
        for (int b = 0; b < NB; ++b) {
            const int base = first + kLanes * b;
            const int valid = a.partials - base < kLanes ? a.partials - base : kLanes;
            for (int k = 0; k < valid; ++k) {
                const F l = T::Splat(a.level[base + k]);
#pragma GCC unroll 4
                for (int v = 0; v < kVecs; ++v) {
                    const F lw = T::Mul(l, T::Load(tile[b][k] + kLanes * v));
                    mix[v] = T::Add(mix[v], T::Mul(lw, g[v]));
                }
            }
        }
#pragma GCC unroll 4
        for (int v = 0; v < kVecs; ++v)
            T::StoreUnaligned(a.mix + t0 + kLanes * v, mix[v]);
    }

    // `sets` runs of NB blocks of partials from `first` on, one after the
    // other, over the whole buffer. The positions of a run's first tile are
    // computed while the run before reads its last one: only the first run
    // starts with positions alone, and not even that one when `carry` is
    // primed with them by the note before. With `next`, the positions of its
    // first tile are computed while this note's last tile is read, and left in
    // `carry`. `ix` is the index tiles' storage: `carry`'s own when there is one.
    template <int NB, bool kMirrored>
    static void Group(const NoteKernelArgs& a, int first, int sets, uint32_t (*ix)[NB][kTile][kLanes],
                      const NoteKernelArgs* next = nullptr, KernelCarry* carry = nullptr)
    {
        F ph[NB];
        LoadPhases<NB>(a, first, ph);
        Increments<NB> inc(a.inc + first);
        // ix[t][b][j][k]: the table position of partial kLanes b + k of the
        // run at frame j of a tile; t alternates between the current tile and
        // the next. tile[b][k][j]: the table's value there.
        alignas(64) float tile[NB][kLanes][kTile];
        const float* sine = a.sine;
        const unsigned frames = a.frames;
        if (frames < kTile)
            __builtin_memset(tile, 0, sizeof tile);
        int cur = 0;
        if (carry != nullptr && carry->primed) {
            const Carry& own = carry->*T::kCarry;
            cur = own.half;
            for (int b = 0; b < NB; ++b)
                ph[b] = T::Load(own.phases[b]);
        } else {
            for (unsigned j = 0; j < frames && j < kTile; ++j)
                Step<NB, kMirrored>(ph, inc, ix[0], static_cast<int>(j));
        }
        for (int run = 0; run < sets; ++run) {
            const int base = first + run * NB * kLanes;
            for (unsigned t0 = 0; t0 < frames; t0 += kTile, cur ^= 1) {
                const unsigned count = frames - t0 < kTile ? frames - t0 : kTile;
                unsigned nextCount = frames - t0 - count < kTile ? frames - t0 - count : kTile;
                if (t0 + count == frames) {
                    // The run's phases are final; the next run's first tile
                    // (or the next note's) is the next one.
                    StorePhases<NB>(a, base, ph);
                    nextCount = 0;
                    if (run + 1 < sets) {
                        LoadPhases<NB>(a, base + NB * kLanes, ph);
                        inc.Load(a.inc + base + NB * kLanes);
                        nextCount = frames < kTile ? frames : kTile;
                    } else if (next != nullptr) {
                        LoadPhases<NB>(*next, first, ph);
                        inc.Load(next->inc + first);
                        nextCount = frames < kTile ? frames : kTile;
                    }
                }
                if (count == kTile) {
                    // Row k of every block read, then kVecs frames of the
                    // next tile's positions (a plain loop: with AVX-512's one
                    // frame, unrolled by a pragma, it had left the
                    // register allocation worse, some to the stack).
                    for (int k = 0; k < kLanes; ++k) {
#pragma GCC unroll 4
                        for (int b = 0; b < NB; ++b)
                            ReadRow<kTile / 2>(sine, ix[cur][b], k, tile[b][k]);
                        for (int j = kVecs * k; j < kVecs * (k + 1) && static_cast<unsigned>(j) < nextCount; ++j)
                            Step<NB, kMirrored>(ph, inc, ix[cur ^ 1], j);
                    }
                } else {
                    // The last, shorter tile: the frames up to an even count
                    // are read, an odd count's last pair reading entry 0 for
                    // its second frame; the frames past those keep the values
                    // of the tile before, or 0. Their gain is 0, so they add
                    // nothing.
                    const int pairs = static_cast<int>(count + 1) / 2;
                    if (count % 2 != 0)
                        for (int b = 0; b < NB; ++b)
                            T::StoreInt(ix[cur][b][count], T::ZeroInt());
                    for (int k = 0; k < kLanes; ++k) {
                        for (int j = kVecs * k; j < kVecs * (k + 1) && static_cast<unsigned>(j) < nextCount; ++j)
                            Step<NB, kMirrored>(ph, inc, ix[cur ^ 1], j);
                        for (int b = 0; b < NB; ++b)
                            ReadRow<0>(sine, ix[cur][b], k, tile[b][k], pairs);
                    }
                }
                AddTile<NB>(a, base, tile, t0);
            }
        }
        if (carry != nullptr) {
            Carry& own = carry->*T::kCarry;
            carry->primed = next != nullptr;
            own.half = cur;
            if (next != nullptr)
                for (int b = 0; b < NB; ++b)
                    T::Store(own.phases[b], ph[b]);
        }
    }

    // One block, each frame's values read as its positions are computed:
    // without blocks beside it the recurrence cannot hide its latency behind
    // another block's reads.
    template <bool kMirrored>
    static void Single(const NoteKernelArgs& a, int first)
    {
        F ph[1];
        D incLo[1], incHi[1];
        LoadBlocks<1>(a, first, ph, incLo, incHi);
        alignas(64) float tile[1][kLanes][kTile] = {};
        alignas(64) uint32_t ix[kLanes];
        const float* sine = a.sine;
        for (unsigned t0 = 0; t0 < a.frames; t0 += kTile) {
            const unsigned count = a.frames - t0 < kTile ? a.frames - t0 : kTile;
            for (unsigned j = 0; j < count; ++j) {
                const F pw = Wrap(ph[0]);
                T::StoreInt(ix, Position<kMirrored>(pw));
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
    // partly padding (the arrays are padded to whole 16-lane blocks).
    template <bool kMirrored>
    static void RenderAll(const NoteKernelArgs& a)
    {
        int first = 0;
        const int runs = (a.partials + kLanes - 1) / (kCarriedBlocks * kLanes); // while more than three blocks remain
        if (runs > 0) {
            alignas(64) uint32_t ix[2][kCarriedBlocks][kTile][kLanes];
            Group<kCarriedBlocks, kMirrored>(a, first, runs, ix);
        }
        first += runs * kCarriedBlocks * kLanes;
        alignas(64) uint32_t ix2[2][2][kTile][kLanes];
        for (; a.partials - first > kLanes; first += 2 * kLanes)
            Group<2, kMirrored>(a, first, 1, ix2);
        if constexpr (T::kSingleReadsAsItSteps) {
            for (; first < a.partials; first += kLanes)
                Single<kMirrored>(a, first);
        } else {
            alignas(64) uint32_t ix1[2][1][kTile][kLanes];
            for (; first < a.partials; first += kLanes)
                Group<1, kMirrored>(a, first, 1, ix1);
        }
    }

    static void Render(const NoteKernelArgs& a)
    {
        if (a.mirrored)
            RenderAll<true>(a);
        else
            RenderAll<false>(a);
    }

    // The phase step alone, NB blocks in flight.
    template <int NB>
    static void AdvanceBlocks(const NoteKernelArgs& a, int first)
    {
        F ph[NB];
        D incLo[NB], incHi[NB];
        LoadBlocks<NB>(a, first, ph, incLo, incHi);
        for (unsigned j = 0; j < a.frames; ++j) {
#pragma GCC unroll 8
            for (int b = 0; b < NB; ++b)
                ph[b] = Next(Wrap(ph[b]), incLo[b], incHi[b]);
        }
        StorePhases<NB>(a, first, ph);
    }

    // Eight blocks at a time, then one.
    static void Advance(const NoteKernelArgs& a)
    {
        int first = 0;
        for (; a.partials - first >= 8 * kLanes; first += 8 * kLanes)
            AdvanceBlocks<8>(a, first);
        for (; first < a.partials; first += kLanes)
            AdvanceBlocks<1>(a, first);
    }

    // Render carrying on to `next` (RenderFastKernel.h): carried only where
    // the note is whole runs of four blocks, and `next` the same shape over
    // the same frames and table; any other note is rendered alone.
    static void Chain(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry)
    {
        const int runs = (a.partials + kLanes - 1) / (kCarriedBlocks * kLanes);
        if (!(runs > 0 && runs * kCarriedBlocks * kLanes >= a.partials)) {
            carry.primed = false;
            Render(a);
            return;
        }
        if (next != nullptr && !(next->partials == a.partials && next->frames == a.frames &&
                                 next->sine == a.sine && next->mirrored == a.mirrored))
            next = nullptr;
        Carry& own = carry.*T::kCarry;
        if (a.mirrored)
            Group<kCarriedBlocks, true>(a, 0, runs, own.positions, next, &carry);
        else
            Group<kCarriedBlocks, false>(a, 0, runs, own.positions, next, &carry);
    }
};

} // namespace marovane_fast
