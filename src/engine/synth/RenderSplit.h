#pragma once
// The render on two threads: the frames of a buffer split between the audio
// thread (whichever thread renders) and a helper thread that an engine made
// with one starts when it is made (on a machine with more than one core). Each thread adds, for its own frames, every
// note's partials in the reference order, so every output sample receives
// exactly the reference's sequence of additions; nothing is split by note or
// by partial.
//
// One buffer:
//  1. The audio thread wakes the helper (a futex wake, no lock), choosing the
//     frame `split` where the helper's frames begin (a multiple of 4, moved
//     from buffer to buffer so that the helper ends a little before the audio
//     thread; the sound does not depend on it). For each note it does the
//     reference's steps before the partial sum (requests were applied by
//     BeginBuffer; envelope gains, morph levels, increments, start phases,
//     the counters moved on), and then, note by note in ascending order,
//     renders the note's frames 0 to `split` and publishes the note's inputs
//     and its phases at frame `split` (one release store of the ready count).
//     All notes being prepared first, the kernel starts on each note while it
//     finishes the one before (KernelCarry).
//  2. The helper trails it: for each published note it renders frames `split`
//     to `frames` from those phases into its running mix, and publishes that
//     mix and the note's final phases with one release compare-and-swap of the
//     progress word (generation, notes done, taken-over flag). The helper may
//     wait for the audio thread; the audio thread never waits for the helper.
//     Its kernel starts on the next note too, when that one is published.
//  3. The last notes of a buffer (a quarter of them, 1 to 16) are prepared
//     first and published at once with their start phases. While the helper
//     waits for the other notes, it moves the last notes' phases to frame
//     `split` itself (no table read, no sum); the audio thread renders its
//     frames of them after all the others. So when the audio thread is down
//     to the last notes, the helper has them all, and their phases, and the
//     audio thread has spent nothing on their phases: without them the
//     helper, one note behind, would always have the last notes left when the
//     audio thread is done.
//  4. When the audio thread has done its frames of every note it looks at the
//     progress word. If the helper has finished, its mix and phases are taken.
//     If not, the audio thread sets the taken-over flag (one atomic or,
//     acquire-release) and renders the remaining notes' second frames itself,
//     from the last mix the helper published. The helper's next
//     compare-and-swap fails; it stops at once and writes nothing more.
//  5. A helper still busy with an earlier buffer when the next one starts (it
//     was not scheduled in time) is left alone: that buffer is rendered on the
//     audio thread only, without touching anything the helper reads or writes.
// The generation in the progress word keeps a late helper from committing into
// a later buffer.
//
// The balance: a buffer that was taken over gives the helper 4 frames less
// for the next buffers; after a run of buffers it finished, it is given 4
// frames more. A try that is taken over doubles the run the next try waits for
// (up to 512 buffers, about 3 s), one that holds halves it (down to 4), so
// the helper finishes nearly every buffer and the split still follows a
// change of load.
//
// The phases at frame `split` are those of the serial recurrence, computed by
// the audio thread as it renders its frames (or, for the last notes, by the
// helper with the same steps), so both halves step exactly as the
// reference's single loop over all frames.
//
// The helper copies the scheduling policy and priority of the thread that
// gives it work (the audio thread), so it is not starved where that thread is
// not.

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "RenderFast.h"
#include "RenderFastKernel.h"
#include "SynthState.h"

// How the buffers of one engine were rendered (counted by the audio thread).
struct RenderSplitStats {
    uint64_t helperFinished = 0; // the helper rendered its frames of every note
    uint64_t takenOver = 0;      // the audio thread finished notes the helper had not
    uint64_t notesTakenOver = 0; // how many notes, summed over those buffers
    uint64_t alone = 0;          // the helper was still busy: one thread rendered it
};

class RenderSplit {
public:
    using NoteKernels = marovane_fast::NoteKernels;

    // `sine`: the engine's sine shape (WAVE_TABLE_LENGTH values), which the
    // helper reads from a copy of its own.
    explicit RenderSplit(const float* sine);
    ~RenderSplit();
    RenderSplit(const RenderSplit&) = delete;
    RenderSplit& operator=(const RenderSplit&) = delete;

    // Whether this machine has more than one core to run on.
    static bool Worthwhile();

    RenderSplitStats Stats() const;

    static constexpr int kPadded = NUM_PARTIALS + 16;
    // Per-frame arrays: a kernel started at a frame that is a multiple of 4
    // runs whole tiles of 16 frames, up to 12 past the buffer's end.
    static constexpr int kGainPadded = MAX_FRAMES + 16;
    // Buffers shorter than this are rendered on one thread.
    static constexpr unsigned kMinFrames = 64;

private:
    // The render (RenderFast.cpp) and the tests' access
    // (tests/support/EngineTestAccess.h).
    friend struct FastRender;
    friend struct RenderSplitTestAccess;

    // Audio thread: the mono mix of one buffer on two threads, with BeginBuffer
    // done, the rendered partials listed (and their SettledLevels in
    // `settled`) and `mix` zeroed (RenderFast.cpp).
    // Returns false, having changed nothing, when the buffer is too short to
    // split or the helper is still busy; the caller then renders it alone.
    bool RenderMix(SynthState& s, const NoteKernels& kernel, const int* rendered, const float* settled, int partials,
                   float* mix, unsigned frames);

    // ---- Test hooks ----
    // The helper gives up on each buffer after publishing this many notes
    // (negative: no limit), as if it had been descheduled there.
    std::atomic<int> helperNoteLimit{-1};
    // While set, the helper does not start the buffer it has been given.
    std::atomic<bool> holdHelper{false};
    // Called on the audio thread when its own frames are done, before it looks
    // at the helper's progress.
    void (*beforeTakeOver)(RenderSplit& split, void* context) = nullptr;
    // Called on the audio thread when every note is published, before it
    // renders its own frames of the buffer's last notes.
    void (*beforeLastFrames)(RenderSplit& split, void* context) = nullptr;
    void* beforeTakeOverContext = nullptr;
    // Notes the helper has published in the current buffer.
    int HelperNotesDone() const;
    // True when the helper has finished with the last buffer given to it.
    bool HelperIdle() const;

    void HelperLoop();
    void HelperBuffer(uint32_t generation);
    void FollowPosterScheduling();
    // Moves the split for the next buffers from how this one went: whether
    // the helper finished, or at least started.
    void Balance(bool finished, bool started);

    // ---- Written by the audio thread: the buffer's settings while the helper
    // is idle, a note's inputs before it is published; read by both ----
    struct alignas(64) NoteInput {
        float gain[kGainPadded];
        float level[kPadded];
        float phase[kPadded]; // at frame 0, then (once published, but for the
                              // last notes) at frame split_
        double inc[kPadded];
        int partials = 0;        // how many of the rendered partials the note renders (PreparedNote)
        double frequency = 0.0;  // the increments' inputs: the note's frequency
        uint32_t incVersion = 0; // and incVersion_ (never 0) when they were computed
    };
    NoteInput input_[NUM_NOTES];
    NoteKernels kernel_ = {};
    unsigned frames_ = 0;
    unsigned split_ = 0; // the helper renders frames split_ to frames_
    int count_ = 0;      // the notes of the buffer
    int firstEarly_ = 0; // the first of the last notes, published first
    int posterTid_ = 0;
    // The rendered partials, the rate and the band limit the notes'
    // increments were computed for; incVersion_ moves on when any changes
    // (a note's count of partials follows from them and its frequency).
    int incRendered_[NUM_PARTIALS] = {};
    int incPartials_ = -1;
    int32_t incRate_ = 0;
    bool incBandLimit_ = false;
    uint32_t incVersion_ = 0;

    // ---- Written by the helper; read by the audio thread once published ----
    alignas(64) float helperPhase_[NUM_NOTES][kPadded]; // at split_, then the final phases
    alignas(64) float helperMix_[2][kGainPadded] = {};  // the mix after notes 0 to an even / odd j

    // ---- The helper's own ----
    marovane_fast::KernelCarry helperCarry_; // the kernel's start on the next note

    // ---- The audio thread's own ----
    // What input_[j].gain and .level hold, to find the lines that change.
    alignas(64) float ownGain_[NUM_NOTES][kGainPadded];
    alignas(64) float ownLevel_[NUM_NOTES][kPadded];
    alignas(64) float takePhase_[kPadded];    // a taken-over note's phases
    static constexpr int kEarlyMax = 16;
    alignas(64) float ownPhase_[kEarlyMax][kPadded]; // the last notes' phases: at frame 0, then at split_
    alignas(64) float tail_[kGainPadded] = {}; // the helper's frames when taken over
    marovane_fast::KernelCarry carry_;         // the kernel's start on the next note
    int notes_[NUM_NOTES];
    uint32_t generation_ = 0;
    // The audio thread's share of the frames in 64ths, and how Balance
    // moves it: the buffers the helper has finished in a row, how many it
    // must finish before it is given 4 frames more, and whether the last
    // buffer was such a try.
    static constexpr int kShareSteps = 64, kShareMin = 16, kShareMax = 48;
    static constexpr int kPatienceMin = 4, kPatienceMax = 512;
    int share_ = 32;
    int finishedRun_ = 0;
    int patience_ = kPatienceMin;
    bool tried_ = false;
    std::atomic<uint64_t> helperFinished_{0}, takenOver_{0}, notesTakenOver_{0}, alone_{0};

    // ---- The handshake ----
    alignas(64) std::atomic<uint32_t> posted_{0};   // the generation last given to the helper
    alignas(64) std::atomic<uint32_t> ready_{0};    // notes published | kAllReady
    alignas(64) std::atomic<uint64_t> progress_{0}; // generation << 32 | kTakenOver | notes done
    alignas(64) std::atomic<uint32_t> finished_{0}; // the generation the helper is done with
    std::atomic<bool> stop_{false};
    // The helper reads its own copy of the sine shape, so the two cores never
    // read the same table lines (each reading lines the other has just
    // read): measured, the two-thread render is a few percent faster so.
    std::unique_ptr<float[]> helperSine_;
    bool helperSineMirrored_ = false; // IsHalfMirrored(helperSine_), found once
    std::thread thread_;
};

// A note as PrepareNote leaves it: its frequency this buffer, bent by the
// pitch wheel (the input of its increments), and how many of the buffer's
// rendered partials it renders, the first ones (all of them but with the
// band limit on: SynthState::BandLimitedCount).
struct PreparedNote {
    double frequency;
    int partials;
};
// The reference render's steps for one sounding note before its partial sum,
// in its order (RenderFast.cpp): the envelope gain of each frame (which may end
// a release; 0 from `frames` to kGainPadded), then the morph level (faded
// below Nyquist with the band limit on) and phase of each partial the note
// renders (the lanes from its count to the next multiple of 16 get 0), and
// the note's counters moved on, whether it renders any partial or none.
// `rendered` lists the buffer's `partials` rendered partials; `settled` holds
// their SettledLevels, which a note whose morph has settled takes as they are.
PreparedNote PrepareNote(SynthState& s, int note, unsigned frames, const int* rendered, int partials,
                         const float* settled, float* gain, float* level, float* phase);
// A note's phases back to its row of SynthState::partialPhase: phase[k] is
// partial rendered[k]'s.
void StoreNotePhases(float* row, const float* phase, const int* rendered, int partials);
// One note through `kernel`, carried on to `next` where the kernel can.
void RenderNote(const RenderSplit::NoteKernels& kernel, const marovane_fast::NoteKernelArgs& a,
                const marovane_fast::NoteKernelArgs* next, marovane_fast::KernelCarry& carry);
// The increments (cycles per sample) of the rendered partials of a note of
// frequency `f`, 0 in the lanes from `partials` to the next multiple of 16.
void PartialIncrements(const SynthState& s, double f, const int* rendered, int partials, double* inc);

// Renders one buffer on two threads (where possible) with the given kernel:
// the two-thread render with any instruction set, for tests. Same contract as
// SynthState::RenderBuffer.
int RenderSplitWith(SynthState& state, RenderVariant kernel, float* output, unsigned frames);
