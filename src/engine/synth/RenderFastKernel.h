#pragma once
// The inner loop of the vectorised render: every partial of one note over one
// buffer. One kernel (RenderFastVector.h) instantiated once per instruction
// set, each in its own file compiled for that set, chosen by the processor's
// features (RenderFast.cpp); and a portable one. This header is shared by all
// of them and by the callers, so it holds plain data and declarations alone:
// nothing here may compile into code that the linker could share between the
// copies.

#include <cstdint>

namespace marovane_fast {

// Arrays padded past `partials` to a multiple of 16 lanes and aligned to 64
// bytes (gain and mix: to 16 bytes, and with 16 frames past `frames`). The
// padding lanes carry phase 0, increment 0 and level 0: they are computed
// like the others and never added.
struct NoteKernelArgs {
    const float* sine;   // the sine shape of the wave table, 32768 entries
    bool mirrored;       // the sine is half-mirrored (IsHalfMirrored): a kernel may read
                         // each half's values from the first quarter of that half
    float* phase;        // per rendered partial: read at the start, written back at the end
    const double* inc;   // per rendered partial: cycles per sample
    const float* level;  // per rendered partial: the morph level of this buffer
    const float* gain;   // per frame: envelope x velocity, 0 from `frames` on
    float* mix;          // per frame: the mono sum so far; the partials are added in order
                         // (the frames past `frames` in the last tile change too)
    int partials;        // how many partials the note renders (0 to 128): with the band limit
                         // on, notes of one buffer may render different counts
    unsigned frames;     // 1 to 256
};

void RenderNoteBaseline(const NoteKernelArgs& a);
void RenderNoteAvx2(const NoteKernelArgs& a);
void RenderNoteAvx512(const NoteKernelArgs& a);
void RenderNotePortable(const NoteKernelArgs& a); // any processor

// Only the phases: each partial's phase moved on by `frames` frames exactly as
// the note kernel moves it, nothing read from the table or added to the mix
// (sine, level, gain and mix are not used).
void AdvancePhasesBaseline(const NoteKernelArgs& a);
void AdvancePhasesAvx2(const NoteKernelArgs& a);
void AdvancePhasesAvx512(const NoteKernelArgs& a);
void AdvancePhasesPortable(const NoteKernelArgs& a);

// Frames of a tile of the vector kernels (RenderFastVector.h), and the blocks
// of lanes a carried run holds.
constexpr int kKernelTile = 16;
constexpr int kCarriedBlocks = 4;

// What a vector kernel of kLanes lanes carries from one note to the next: the
// index tiles (the second holds the next note's first positions, computed
// while the note before is read, when primed) and that note's phases after
// them.
template <int kLanes>
struct CarryLayout {
    alignas(64) uint32_t positions[2][kCarriedBlocks][kKernelTile][kLanes];
    alignas(64) float phases[kCarriedBlocks][kLanes];
    int half; // which of `positions` holds the next note's first tile
};

// What a kernel carries from one note to the next on one thread: each
// instruction set has its own layout, and reads and writes only that one.
struct KernelCarry {
    CarryLayout<16> avx512;
    CarryLayout<8> avx2;
    CarryLayout<4> baseline;
    // The layout of the kernel that made the last call holds the start of
    // the next note given to that call.
    bool primed = false;
};

// The note kernel, carrying on to `next`: renders `a` as `render` does and,
// when `next` can follow it (the same partials, frames and table), starts on
// `next` and leaves that in `carry`, primed. A call with `carry` primed must
// be to the same kernel, for the `next` of the call that primed it, with its
// inputs unchanged since; `next` null, or one that cannot follow, leaves
// `carry` not primed.
void RenderNoteChainBaseline(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry);
void RenderNoteChainAvx2(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry);
void RenderNoteChainAvx512(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry);

// The entry points of one instruction set. `chain` may be null: the kernel
// then starts every note anew.
struct NoteKernels {
    void (*render)(const NoteKernelArgs&);
    void (*advance)(const NoteKernelArgs&);
    void (*chain)(const NoteKernelArgs&, const NoteKernelArgs* next, KernelCarry& carry) = nullptr;
};

} // namespace marovane_fast
