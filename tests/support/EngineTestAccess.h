#pragma once
// The engine's render-thread internals and the two-thread render's hooks, for
// tests and measurements only: the render's steps one at a time, the
// render-owned rows (phases, counters, the LFO phase), the snapshot, and the
// helper thread's hooks. Hosts never include this; they render through
// Engine (Engine.h) and set parameters through SetParameter.
//
// The same threads as the members reached: the rendering thread's steps on
// the thread that renders (a test's own thread, mostly).

#include <cstdint>

#include "synth/RenderSplit.h"
#include "synth/SynthState.h"

struct SynthStateTestAccess {
    // ---- The render ----
    static int Render(SynthState& s, float* output, unsigned frames) { return s.Render(output, frames); }
    static int RenderBuffer(SynthState& s, float* output, unsigned frames) { return s.RenderBuffer(output, frames); }
    static void BeginBuffer(SynthState& s) { s.BeginBuffer(); }
    static float EnvelopeLevel(SynthState& s, int note, uint32_t startSamples, uint32_t offset)
    {
        return s.EnvelopeLevel(note, startSamples, offset);
    }
    static float HeldLevel(const SynthState& s, float e) { return s.HeldLevel(e); }
    static float MorphLevel(const SynthState& s, int note, int partial) { return s.MorphLevel(note, partial); }
    static void NoteGains(SynthState& s, int note, unsigned frames, float* gain) { s.NoteGains(note, frames, gain); }
    static double PartialIncrement(const SynthState& s, int partial, double f) { return s.PartialIncrement(partial, f); }
    static double BentFrequency(const SynthState& s, int note) { return s.BentFrequency(note); }
    static const RenderSnapshot& Snapshot(const SynthState& s) { return s.Snapshot(); }

    // ---- The render-owned rows ----
    static float (&PartialPhase(SynthState& s))[NUM_NOTES][NUM_PARTIALS] { return s.partialPhase; }
    static uint32_t (&NoteSamples(SynthState& s))[NUM_NOTES] { return s.noteSamples; }
    static uint32_t (&ReleaseSamples(SynthState& s))[NUM_NOTES] { return s.releaseSamples; }
    static float& LfoPhase(SynthState& s) { return s.lfoPhase; }
    static const float (&PartialPhase(const SynthState& s))[NUM_NOTES][NUM_PARTIALS] { return s.partialPhase; }
    static const uint32_t (&NoteSamples(const SynthState& s))[NUM_NOTES] { return s.noteSamples; }
    static const uint32_t (&ReleaseSamples(const SynthState& s))[NUM_NOTES] { return s.releaseSamples; }
    static const float& LfoPhase(const SynthState& s) { return s.lfoPhase; }
    static float MsPerSample(const SynthState& s) { return s.msPerSample; }

    // The tuning's change count (odd while a table is being written).
    static std::atomic<uint32_t>& TuningChanges(SynthState& s) { return s.tuningChanges_; }

    // The two-thread render's helper, or null.
    static RenderSplit* Split(SynthState& s) { return s.renderSplit.get(); }
};

struct RenderSplitTestAccess {
    // The helper gives up on each buffer after publishing this many notes
    // (negative: no limit), as if it had been descheduled there.
    static std::atomic<int>& HelperNoteLimit(RenderSplit& r) { return r.helperNoteLimit; }
    // While set, the helper does not start the buffer it has been given.
    static std::atomic<bool>& HoldHelper(RenderSplit& r) { return r.holdHelper; }
    // Called on the audio thread when its own frames are done, before it looks
    // at the helper's progress.
    static void (*&BeforeTakeOver(RenderSplit& r))(RenderSplit&, void*) { return r.beforeTakeOver; }
    // Called on the audio thread when every note is published, before it
    // renders its own frames of the buffer's last notes.
    static void (*&BeforeLastFrames(RenderSplit& r))(RenderSplit&, void*) { return r.beforeLastFrames; }
    static void*& BeforeTakeOverContext(RenderSplit& r) { return r.beforeTakeOverContext; }
    static int HelperNotesDone(const RenderSplit& r) { return r.HelperNotesDone(); }
    static bool HelperIdle(const RenderSplit& r) { return r.HelperIdle(); }
};

// Changes some values of the engine's sound as a patch load does (SetSound):
// values outside the controls' ranges are kept as given, where SetParameter
// would hold them to the range.
template <class Change>
void ChangeSound(SynthState& s, Change change)
{
    Sound sound = s.CurrentSound();
    change(sound);
    s.SetSound(sound);
}
