#pragma once
// Everything the additive engine reads while it renders: one row of the note
// table per MIDI note, the two harmonic spectra, the envelope and LFO
// parameters and the wave table. Each Engine (Engine.h) owns one; a host may
// make several, which share nothing.
//
// Threads and what each may call (the rendering thread is whichever thread
// of the host renders: an audio callback, a plugin's run, an offline loop;
// the render itself is reached through Engine, Engine.h):
//  - Any thread (a user interface, MIDI input, the rendering thread between
//    buffers): StartNote, ReleaseNote, SetNoteVelocity, SetParameter,
//    SetLfoWaveform, SetModWheelDepth, SetPitchWheel, SetRenderSuspended.
//    None of them blocks; a note operation takes effect at the start of the
//    next rendered buffer.
//  - One thread at a time (a user interface's): SetSound and SetSpectra, the
//    changes of many values at once, and TakeLeftMaxPeak / TakeRightMaxPeak.
//  - Anyone: the read-only views (IsNoteHeld, IsNoteReleasing, IsNoteSounding,
//    peaks, spectra, parameters, SampleRate, SplitStats).
//  - While nothing renders: SetSampleRate.
//  - One thread at a time (a user interface's, a plugin's state thread):
//    SetTuning and SetEqualTuning. Anyone: IsTuned, KeyFrequency, KeySounds.
// The render's own steps and rows (BeginBuffer, the envelope and morph, the
// phases and counters) are private: the render code (Render.cpp,
// RenderFast.cpp, RenderSplit.cpp, Engine.cpp) runs them, and tests reach
// them through tests/support/EngineTestAccess.h.
//
// Sharing without locks: parameters, spectrum levels, velocities and flags are
// relaxed atomics (Relaxed<T>). Phases and sample counters are written by the
// render alone; a note operation never touches them but leaves a request in
// the note's request word, which the render carries out in BeginBuffer.
// A change of many values at once (a whole sound, both spectra) is handed over
// whole: the writer counts the change open and closed around its stores, and
// BeginBuffer takes the sound only from between changes. A buffer that starts
// while a change is being written keeps the sound of the buffer before, so no
// buffer ever plays half of one sound and half of another. The render never
// waits for the writer.

#include <cmath>
#include <cstdint>
#include <memory>

#include "Parameters.h"
#include "util/Relaxed.h"
#include "WaveTable.h"

constexpr int NUM_NOTES = 128;
constexpr int NUM_PARTIALS = 128;
constexpr int MAX_FRAMES = 256;
constexpr int SAMPLE_RATE = 44100;
constexpr float PITCH_WHEEL_CENTRE = 8192.0f;

// The levels of the 128 partials, entry h being partial h + 1.
struct HarmonicSpectrum {
    float level[NUM_PARTIALS];
};

// A whole sound: the envelope, the LFO, the output volume, the band limit and
// both spectra, as a patch holds it (less the mod wheel position, which is a performance
// control). The unit of undo and of a patch load.
struct Sound {
    int32_t attackMs = 0;
    int32_t decayMs = 0;
    int32_t sustainPercent = 100;
    int32_t releaseMs = 10;
    float lfoFrequency = 5.0f;
    int32_t lfoWaveform = 0;
    float volumeDb = 0.0f; // the output's gain in decibels (Engine.h applies it)
    bool bandLimit = false; // no partial at or above half the sample rate (SynthState::kNyquistIncrement)
    HarmonicSpectrum attack = {};
    HarmonicSpectrum sustain = {};
};
// The same sound bit for bit (so a NaN equals itself and -0 differs from 0).
bool SameSound(const Sound& a, const Sound& b);

// The parameters and spectra as the render sees them for one whole buffer.
// BeginBuffer takes this copy once, so every frame and every partial of a
// buffer (and the fast render, which must match the reference render byte for
// byte) works from the same numbers.
struct RenderSnapshot {
    int32_t attackMs = 0;
    int32_t decayMs = 0;
    int32_t sustainPercent = 100;
    int32_t releaseMs = 10;
    float lfoFrequency = 5.0f;
    int32_t lfoWaveform = 0;
    float volumeDb = 0.0f; // read by Engine after the buffer, not by the render
    bool bandLimit = false;
    float modWheelDepth = 0.0f;
    float pitchWheel = PITCH_WHEEL_CENTRE;
    float velocity[NUM_NOTES] = {};
    float attack[NUM_PARTIALS] = {};
    float sustain[NUM_PARTIALS] = {};
};

// The second render thread (RenderSplit.h); null on a machine with one core.
class RenderSplit;
// `sine`: the engine's sine shape, copied for the helper.
RenderSplit* NewRenderSplit(const float* sine);
void DeleteRenderSplit(RenderSplit* split);

class SynthState;
struct RenderSplitStats;
struct PreparedNote;
enum class RenderVariant;

// A value any thread reads as it reads a Relaxed<T>, and which only SynthState
// stores, through its setters (which decide how a host's value is held).
template <typename T>
class SynthValue {
public:
    constexpr explicit SynthValue(T v) : v_(v) {}
    SynthValue(const SynthValue&) = delete;
    SynthValue& operator=(const SynthValue&) = delete;
    T load() const { return v_.load(); }
    operator T() const { return v_.load(); }

private:
    friend class SynthState;
    void store(T v) { v_.store(v); }
    Relaxed<T> v_;
};

class SynthState {
public:
    // Start-up defaults: the wave table built, every velocity 1.0, partial 1 at
    // 0.5 in both spectra, attack 0, decay 0, sustain 100, release 10, LFO
    // 5 Hz sine, depth 0, pitch wheel centred. With `helperThread` the
    // two-thread render's helper starts (RenderSplit.h, on a machine with more
    // than one core); without it no thread is started and Render runs the
    // fastest single-thread variant.
    explicit SynthState(bool helperThread = true);
    SynthState(const SynthState&) = delete;
    SynthState& operator=(const SynthState&) = delete;

    // ---- Note operations (any thread) ----
    // Starts a note unless it is already held; a note that was releasing or
    // silent restarts from phase 0 and time 0.
    void StartNote(int note);
    // Puts a held note into its release. Releasing a note whose key is not
    // down (a silent note, or one already releasing) changes nothing: a second
    // Note Off, or the Note Offs a sequencer sends for every note when it
    // stops, make no sound.
    void ReleaseNote(int note);
    // The note's gain, kept between notes; MIDI note-on stores velocity / 127.
    void SetNoteVelocity(int note, float velocity);
    float NoteVelocity(int note) const { return noteVelocity[note]; }
    static float VelocityFromMidi(int velocity) { return static_cast<float>(velocity) / 127.0f; }
    // True from StartNote to ReleaseNote: the key as the note sources see it.
    bool IsKeyDown(int note) const
    {
        return (requests_[note].load(std::memory_order_relaxed) & kKeyDown) != 0;
    }

    // ---- Parameters (any thread writes and reads) ----
    // How a value gets into the sound's parameters (Parameters.h):
    //  - SetParameter, a host's single control (a slider, a plugin port, a
    //    command line): held to the parameter's range and, where it takes
    //    whole numbers only, rounded to the nearest (halves away from zero),
    //    by ClampParameter. A NaN changes nothing: the parameter keeps its
    //    value.
    //  - SetSound, a whole sound (a patch, an undo step): the envelope's
    //    numbers and the LFO frequency are kept as given, however far outside
    //    the controls' ranges (a patch file may hold any integer; the render
    //    is defined for all of them); only the LFO shape is held to 0 to 6,
    //    so that the render never reads outside the wave table, and the
    //    volume to its range (-60 to 6 dB, as SetParameter holds it; a NaN
    //    keeps the volume there is).
    //  - SetLfoWaveform: the shape held to 0 to 6, as SetSound holds it.
    // The band limit is a switch: SetParameter takes a value of 0.5 or more
    // (after rounding: ClampParameter) as on.
    void SetParameter(ParamId id, float value);
    // The parameter's current value (an integer parameter's converted to float).
    float Parameter(ParamId id) const;

    // Read-only views of the parameters, as the render reads them.
    SynthValue<int32_t> attackMs{0};
    SynthValue<int32_t> decayMs{0};
    SynthValue<int32_t> sustainPercent{100};
    SynthValue<int32_t> releaseMs{10};
    SynthValue<float> lfoFrequency{5.0f};
    SynthValue<float> volumeDb{0.0f};
    // The band limit's switch (ParamId::BandLimit; see kNyquistIncrement).
    SynthValue<bool> bandLimit{false};

    // The LFO shape 0 to 6. A value outside that range (from a patch file, say)
    // is clamped to the nearest shape, so the render never reads outside the
    // wave table.
    void SetLfoWaveform(int32_t shape);
    int32_t LfoWaveform() const { return lfoWaveform_; }

    // The output volume in decibels, held to its range (Parameters.h), and
    // within 0.0001 dB of 0 taken as 0 dB exactly; a NaN changes nothing.
    // SetParameter(ParamId::Volume, dB) does the same.
    void SetVolumeDb(float dB);

    // ---- Performance controls (any thread), stored as given ----
    // The tremolo depth, 0 to 1 from the mod wheel.
    void SetModWheelDepth(float depth) { modWheelDepth.store(depth); }
    SynthValue<float> modWheelDepth{0.0f};
    // The tremolo depth of a mod wheel position 0 to 16383: value / maximum.
    static float ModWheelDepthFromValue(int value) { return static_cast<float>(value) / 16383.0f; }
    // The pitch wheel's current value, 0 to 16383 with centre 8192: the copy of
    // the wheel that the render reads.
    void SetPitchWheel(float value) { pitchWheel.store(value); }
    SynthValue<float> pitchWheel{PITCH_WHEEL_CENTRE};
    // Set while a host's output is being replaced or closed: the host renders
    // nothing while it is set (the engine itself does not look).
    void SetRenderSuspended(bool suspended) { renderSuspended.store(suspended); }
    SynthValue<bool> renderSuspended{false};

    // Copies 128 levels into each spectrum (either pointer may be null to leave
    // that spectrum alone). The render takes both whole, at a buffer's start.
    // Every way a level gets into the sound (these stores, SetSound, the single
    // level setters) turns a subnormal level into 0: such a level is far below
    // hearing, yet each product with it would run the processor's slow path
    // for subnormal numbers, which the render keeps enabled to stay exact.
    void SetSpectra(const float* attack, const float* sustain);
    // Replaces the whole sound at once: the render takes it at the start of a
    // buffer, never part of it. The LFO shape is clamped as SetLfoWaveform does,
    // the volume held as SetParameter holds it.
    void SetSound(const Sound& sound);
    Sound CurrentSound() const;
    void SetAttackLevel(int partial, float level) { attackSpectrum[partial] = FlushSubnormal(level); }
    void SetSustainLevel(int partial, float level) { sustainSpectrum[partial] = FlushSubnormal(level); }
    // A subnormal level becomes 0; every other value is kept bit for bit.
    static float FlushSubnormal(float level)
    {
        return std::fpclassify(level) == FP_SUBNORMAL ? 0.0f : level;
    }
    float AttackLevel(int partial) const { return attackSpectrum[partial]; }
    float SustainLevel(int partial) const { return sustainSpectrum[partial]; }
    HarmonicSpectrum Attack() const;
    HarmonicSpectrum Sustain() const;

    // ---- Read-only views (any thread) ----
    bool IsNoteHeld(int note) const { return noteHeld[note]; }
    bool IsNoteReleasing(int note) const { return noteReleasing[note]; }
    bool IsNoteSounding(int note) const { return noteHeld[note] || noteReleasing[note]; }
    // True while a note is sounding or a note operation waits for the render.
    bool AnyNoteActive() const;
    // The peak absolute sample of each channel in the last rendered buffer; a
    // host's meters poll these.
    float LeftPeak() const { return leftPeak_; }
    float RightPeak() const { return rightPeak_; }
    // The largest peak of each channel since the last call (0 when nothing
    // was rendered since): a short overload between two polls of the meters
    // is not missed. One reader, a host's meters.
    float TakeLeftMaxPeak() { return TakeMaxPeak(leftMaxPeak_); }
    float TakeRightMaxPeak() { return TakeMaxPeak(rightMaxPeak_); }
    // How many buffers have been rendered: lets a waiting thread see that the
    // render has moved on.
    uint32_t BuffersRendered() const { return buffersRendered_; }

    const WaveTable& Waves() const { return waveTable_; }

    // The rate the engine runs at: 44100 Hz unless the output device plays
    // only at another rate.
    int32_t SampleRate() const { return sampleRate; }
    // Runs the engine at `rate` Hz from the next buffer on: the envelope and
    // morph times, the partial increments and the LFO follow it. Call only
    // while nothing renders (before a host's output starts, or while it is
    // suspended); rates outside 1000 to 768000 Hz are ignored.
    void SetSampleRate(int32_t rate);

    // ---- Tuning (one thread at a time writes; anyone reads) ----
    // The frequency every key starts from, before the pitch wheel bends it.
    // Without a tuning (at start-up and after SetEqualTuning) a note plays
    // NoteFrequency(note), WaveTable.h's twelve equal steps, exactly as it
    // always has. SetTuning hands over a whole table of NUM_NOTES frequencies
    // in Hz and whether each key sounds; the render takes it whole at the
    // start of a buffer, as it takes a sound (a buffer that starts while a
    // table is being written keeps the table it had), never part of one
    // table and part of another. Partials stay whole multiples of the key's
    // frequency.
    // A key sounds when `sounds` says so and its frequency is finite, above
    // 0 and at most MAX_TUNED_FREQUENCY (beyond hearing; higher fundamentals
    // would take the partials' phases past where the render is exact). A key
    // that does not sound is silent: in the tuning the render holds, a Note
    // On for it starts nothing (and its Note Off then ends nothing), and a
    // note sounding on it when a new tuning arrives in which the key does not
    // sound stops at that buffer's start, without a release.
    static constexpr double MAX_TUNED_FREQUENCY = 20000.0;
    void SetTuning(const double* frequency, const bool* sounds);
    void SetEqualTuning();
    // The tuning last set (not necessarily taken by the render yet): whether
    // there is one, and each key's frequency before the bend (NoteFrequency
    // without a tuning, 0 for a key that does not sound) and whether it
    // sounds (every key without a tuning).
    bool IsTuned() const { return tuned_; }
    double KeyFrequency(int note) const;
    bool KeySounds(int note) const;

    // Whether the two-thread render's helper runs (RenderSplit.h), and how it
    // has rendered so far (all zero without one).
    bool HasHelperThread() const { return renderSplit != nullptr; }
    RenderSplitStats SplitStats() const; // in RenderSplit.cpp

private:
    // The render code and the tests' access (tests/support/EngineTestAccess.h).
    friend class Engine;
    friend class RenderSplit;
    friend struct FastRender;
    friend struct SynthStateTestAccess;
    friend int RenderWith(SynthState& state, RenderVariant variant, float* output, unsigned frames);
    friend PreparedNote PrepareNote(SynthState& s, int note, unsigned frames, const int* rendered, int partials,
                                    const float* settled, float* gain, float* level, float* phase);
    friend void PartialIncrements(const SynthState& s, double f, const int* rendered, int partials, double* inc);

    // ---- The render (the rendering thread) ----
    // What Engine's block call renders its pieces with: the fastest render this
    // processor supports (on one thread without a helper), whose output equals
    // RenderBuffer's bit for bit.
    int Render(float* output, unsigned frames); // in RenderFast.cpp
    // The reference render: exactly the documented order of operations, one
    // note, partial and frame at a time. Returns 0 (paContinue).
    int RenderBuffer(float* output, unsigned frames);

    // Carries out pending note requests and takes the snapshot of the
    // parameters for the buffer about to be rendered.
    void BeginBuffer();
    // Gain of a note at frame `offset` of the buffer that starts at
    // startSamples. May end the note's release.
    float EnvelopeLevel(int note, uint32_t startSamples, uint32_t offset);
    // The gain of a held note `e` milliseconds after its start (the attack,
    // decay and sustain segments), as EnvelopeLevel computes it.
    float HeldLevel(float e) const;
    // Level of a partial of a note for the current buffer; changes nothing.
    float MorphLevel(int note, int partial) const;
    // MorphLevel of each of `count` partials (their numbers in `partials`).
    void MorphLevels(int note, const int* partials, int count, float* level) const;
    // Whether a note's morph has settled this buffer: its MorphLevels are
    // SettledLevels, the same for every such note.
    bool MorphSettled(int note) const;
    void SettledLevels(const int* partials, int count, float* level) const;
    // The gain of a note for each of the buffer's frames: its envelope times
    // its velocity. Runs EnvelopeLevel frame by frame, so it may end a release.
    void NoteGains(int note, unsigned frames, float* gain);
    // Cycles per sample of a partial (0 is the fundamental) of a note that
    // sounds at f Hz this buffer.
    double PartialIncrement(int partial, double f) const
    {
        const double period = sampleRate / ((partial + 1) * f);
        return 1 / period;
    }
    // The band limit (ParamId::BandLimit), taken with the sound at a
    // buffer's start. With it on, a partial whose increment is at or above
    // kNyquistIncrement (at or above half the sample rate, where it would
    // fold back as a false tone) is not rendered at all: no table read, no
    // phase step (its phase stays as it was). One whose increment lies in
    // the fade band [kFadeIncrement, kNyquistIncrement), from 0.45 to 0.5 of
    // the sample rate (19845 to 22050 Hz at 44100 Hz), has its morph level
    // multiplied by BandLimitFade(increment), which falls in a straight line
    // from 1 at the band's foot to 0 at half the rate: a partial that a pitch
    // bend carries across fades out or in, without a click. Below the band no
    // level is multiplied: a note whose partials all lie below it renders bit
    // for bit as with the switch off. With the switch off every partial is
    // rendered, as it always was.
    static constexpr double kNyquistIncrement = 0.5;
    static constexpr double kFadeIncrement = 0.45;
    static constexpr double kFadeWidth = 0.05;
    // (0.5 - inc) / 0.05 in double, rounded once to float.
    static float BandLimitFade(double inc)
    {
        return static_cast<float>((kNyquistIncrement - inc) / kFadeWidth);
    }
    // How many of the `count` rendered partials `rendered` (ascending) a note
    // sounding at f Hz renders this buffer: all of them with the band limit
    // off; with it on, those whose increment is below kNyquistIncrement,
    // which are the first ones (a partial's increment grows with its number).
    int BandLimitedCount(double f, const int* rendered, int count) const;
    // With the band limit on, multiplies level[k] of each of those partials
    // that lies in the fade band by its BandLimitFade, as the reference
    // render multiplies its morph level; changes nothing below the band.
    // `count` is BandLimitedCount's.
    void FadeBelowNyquist(double f, const int* rendered, int count, float* level) const;
    // The tremolo, the LFO phase and the peaks over a mixed buffer; the last
    // step of every render.
    void ApplyTremoloAndPeaks(float* output, unsigned frames);
    // Advances a rendered note's counters after its partials are summed.
    void AdvanceNote(int note, unsigned frames);
    // The frequency of a note this buffer, bent by the pitch wheel.
    double BentFrequency(int note) const;
    const RenderSnapshot& Snapshot() const { return snap_; }

    // Render-owned rows: written only by the render thread.
    float partialPhase[NUM_NOTES][NUM_PARTIALS];
    uint32_t noteSamples[NUM_NOTES];
    uint32_t releaseSamples[NUM_NOTES];
    // Where a note's release starts: the gain it had when it was let go during
    // its attack or decay. A note let go in its sustain falls from the current
    // sustain level instead (releaseFromSustain), exactly as a release always did.
    float releaseLevel[NUM_NOTES];
    bool releaseFromSustain[NUM_NOTES];
    float lfoPhase = 0.0f;

    // The rate and the length of one sample, read by the render; changed only
    // through SetSampleRate.
    int32_t sampleRate = SAMPLE_RATE;
    float msPerSample = 1000.0f / SAMPLE_RATE;

    // The request word of a note: the key state the note sources see, and
    // what the render has still to do about it.
    static constexpr uint8_t kKeyDown = 1; // StartNote seen, no ReleaseNote since
    static constexpr uint8_t kRestart = 2; // reset phases and time, then hold
    static constexpr uint8_t kRelease = 4; // start a release

    void ApplyRequests(int note, uint8_t requests);
    // MorphSettled; when not, t is the note's share of attack + decay.
    bool MorphShare(int note, float& t) const;
    // Opens and closes a change of many values (the change count is odd
    // while one is being written).
    void BeginSoundChange();
    void EndSoundChange();
    // Takes the sound into the snapshot when no change came in between.
    void TakeSound();
    // Takes a tuning set since the last one taken, whole, when no change came
    // in between; a note sounding on a key the new tuning silences stops.
    void TakeTuning();
    // The held peaks travel as the bits of a non-negative float, which order
    // as the floats do: the render raises them, the reader takes and zeroes.
    static void RaiseMaxPeak(std::atomic<uint32_t>& held, float peak);
    static float TakeMaxPeak(std::atomic<uint32_t>& held);

    WaveTable waveTable_;
    // Written by the note sources with release ordering (so a velocity stored
    // before StartNote travels with it), taken by the render with acquire.
    std::atomic<uint8_t> requests_[NUM_NOTES] = {};

    Relaxed<bool> noteHeld[NUM_NOTES];
    Relaxed<bool> noteReleasing[NUM_NOTES];
    Relaxed<float> noteVelocity[NUM_NOTES];
    Relaxed<float> attackSpectrum[NUM_PARTIALS];
    Relaxed<float> sustainSpectrum[NUM_PARTIALS];
    Relaxed<int32_t> lfoWaveform_{0};
    Relaxed<float> leftPeak_{0.0f};
    Relaxed<float> rightPeak_{0.0f};
    Relaxed<uint32_t> buffersRendered_{0};
    std::atomic<uint32_t> leftMaxPeak_{0};
    std::atomic<uint32_t> rightMaxPeak_{0};
    std::atomic<uint32_t> soundChanges_{0};

    RenderSnapshot snap_;

    // The tuning as written (SetTuning, one writer at a time, inside its own
    // change count) and as the render holds it (render-owned, taken by
    // TakeTuning only when the count has moved on since).
    Relaxed<bool> tuned_{false};
    Relaxed<double> tuningFrequency_[NUM_NOTES];
    Relaxed<bool> tuningSounds_[NUM_NOTES];
    std::atomic<uint32_t> tuningChanges_{0};
    uint32_t tuningTaken_ = 0;
    bool renderTuned_ = false;
    double renderFrequency_[NUM_NOTES] = {};
    bool renderSounds_[NUM_NOTES] = {};

    // The helper thread of the two-thread render, started with the engine when
    // it is asked for (null otherwise). Declared last so that it is stopped
    // before anything it reads goes.
    const std::unique_ptr<RenderSplit, void (*)(RenderSplit*)> renderSplit;
};
