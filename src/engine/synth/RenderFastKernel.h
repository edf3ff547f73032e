#pragma once
// The inner loop of the vectorised render: every partial of one note over one
// buffer. One copy per instruction set, each in its own file compiled for that
// set, chosen at start-up (RenderFast.cpp). This header is shared by all of
// them, so it holds plain data, and templates instantiated only with each
// file's own (internal) functions: nothing here may compile into code that
// the linker could share between the copies.

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
    int partials;        // how many partials are rendered (0 to 128)
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

// What a kernel carries from one note to the next on one thread: the table
// positions of the next note's first frames, computed while the note before
// is read (each call otherwise starts with positions alone), and that note's
// phases after them. The layout is the kernel's own.
struct KernelCarry {
    alignas(64) uint32_t positions[2][4][16][16];
    alignas(64) float phases[4][16];
    int half = 0;
    bool primed = false; // holds the start of the next note given to the last call
};

// The note kernel, carrying on to `next`: renders `a` as `render` does and,
// when `next` can follow it (the same partials, frames and table), starts on
// `next` and leaves that in `carry`, primed. A call with `carry` primed must
// be for the `next` of the call that primed it, with its inputs unchanged
// since; `next` null, or one that cannot follow, leaves `carry` not primed.
void RenderNoteChainAvx512(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry);
void RenderNoteChainAvx2(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry);

// The entry points of one instruction set. `chain` may be null: the kernel
// then starts every note anew.
struct NoteKernels {
    void (*render)(const NoteKernelArgs&);
    void (*advance)(const NoteKernelArgs&);
    void (*chain)(const NoteKernelArgs&, const NoteKernelArgs* next, KernelCarry& carry) = nullptr;
};

// The partials of a note in groups of kInFlight blocks of kLanes, then block
// by block; Wide and Narrow are the calling file's own.
template <int kInFlight, int kLanes, void (*Wide)(const NoteKernelArgs&, int),
          void (*Narrow)(const NoteKernelArgs&, int)>
void InGroups(const NoteKernelArgs& a)
{
    int first = 0;
    for (; a.partials - first >= kInFlight * kLanes; first += kInFlight * kLanes)
        Wide(a, first);
    for (; first < a.partials; first += kLanes)
        Narrow(a, first);
}

// The carrying kernel of a file whose notes run in groups of four blocks of
// kLanes: carried only where the note is whole runs of such groups, and
// `next` the same shape over the same frames and table. Carried(a, runs,
// next, carry) renders those runs; Plain renders any other note. Carried is
// the calling file's own.
template <int kLanes, void (*Plain)(const NoteKernelArgs&),
          void (*Carried)(const NoteKernelArgs&, int, const NoteKernelArgs*, KernelCarry&)>
void InCarriedRuns(const NoteKernelArgs& a, const NoteKernelArgs* next, KernelCarry& carry)
{
    const int runs = (a.partials + kLanes - 1) / (4 * kLanes);
    if (!(runs > 0 && runs * 4 * kLanes >= a.partials)) {
        carry.primed = false;
        Plain(a);
        return;
    }
    if (next != nullptr && !(next->partials == a.partials && next->frames == a.frames && next->sine == a.sine &&
                             next->mirrored == a.mirrored))
        next = nullptr;
    Carried(a, runs, next, carry);
}

} // namespace marovane_fast
