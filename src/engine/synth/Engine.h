#pragma once
// The whole instrument's sound behind one block call, for any host: a window's
// audio callback, an offline renderer, a plugin. An Engine owns the note table
// and sound (SynthState), a MIDI decoder that plays into them, and the
// position of its 256-frame grid. A host asks for any number of frames with
// the MIDI messages that fall inside them, each at its own frame; the engine
// cuts the block into pieces at every message's frame and at the grid, and
// renders the pieces with the fastest render this processor has. The result
// equals the reference render (SynthState::RenderBuffer) run over the same
// pieces, bit for bit, so a host whose blocks are multiples of 256 frames
// hears exactly what any other such host hears.
//
// The output volume (ParamId::Volume, -60 to 6 dB, default 0) is the one
// step after the render: the engine multiplies both channels of each piece
// by the gain 10^(dB/20), in one place for every render variant, so every
// host hears it alike. It reads the volume of the sound each piece was
// rendered with (taken with the rest of the sound at the piece's start), and
// works out 10^(dB/20) once per change, in double, rounded to float.
//  - At 0 dB the gain is exactly 1 and the multiply is skipped: the output is
//    the render's, bit for bit.
//  - A change glides: from the gain of the last frame rendered, the gain
//    moves in a straight line to the new one over 256 frames (one grid step),
//    frame k (1 to 256) of the glide getting from + (to - from) * (k / 256),
//    in float, and the 256th exactly the new gain, which then holds. A change
//    during a glide starts a new one from where it stands. The glide runs
//    across pieces and blocks, so the same change at the same frame gives the
//    same samples whatever the host's block sizes.
//  - The very first piece an engine renders takes its volume at once, with
//    no glide: nothing was heard before it (an offline render of a patch at
//    -6 dB is at half the level from its first frame).
//  - The multiply runs in the render's floating-point environment
//    (FloatEnvironment.h), whatever the host's thread has set.
// The peaks the meters read (SynthState::LeftPeak and the rest) are the
// render's, before the volume.
//
// Threads and what each may call:
//  - The rendering thread, one at a time: Render and RenderInterleaved. They
//    allocate nothing, take no lock, do no I/O and never wait.
//  - Any thread: ResetGrid, SetParameter and Parameter, and Synth() with
//    SynthState's own rules (note operations and parameter stores from any
//    thread take effect at the start of the next piece rendered).
//  - One thread at a time: SetTuning and SetEqualTuning (SynthState's), the
//    table taken whole at the start of a piece.
// Output samples that are not finite numbers (a sound drawn loud enough to
// overflow) are left as they are: the host silences them where it must
// (OutputGuard.h).

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "SynthState.h"
#include "midi/MidiDecoder.h"

// One MIDI message at a frame of the block being rendered.
struct EngineEvent {
    uint32_t frame;   // frame within the block the message takes effect at
    uint32_t size;    // bytes used in `bytes`, 1 to 3; other sizes are ignored
    uint8_t bytes[3]; // status first; any channel plays (the engine is omni)
};

struct EngineOptions {
    int32_t sampleRate = SAMPLE_RATE; // 8000 to 192000 accepted by hosts; the engine runs at it exactly
    bool helperThread = true;         // false: never starts a helper thread (one host thread renders alone)
};

// MIDI bytes played into a note table, as the engine's block call plays its
// events: every channel's messages count as one channel's. Note On with its
// velocity, Note Off, pitch bend, controller 1 (the mod wheel: tremolo depth),
// 64 (the sustain pedal) and 123 (all notes off) act; everything else,
// program changes included, is ignored, as is a message shorter than its kind
// (a Note On without its velocity byte) or one with a data byte above 127.
// The thread that renders `synth` calls Apply between the pieces it renders
// (an engine's own decoder); the note operations take effect at the next
// piece.
class EngineMidi {
public:
    explicit EngineMidi(SynthState& synth);
    EngineMidi(const EngineMidi&) = delete;
    EngineMidi& operator=(const EngineMidi&) = delete;

    // One whole message of `size` bytes (1 to 3; other sizes are ignored).
    void Apply(const uint8_t* bytes, uint32_t size);

private:
    class Target final : public MidiTarget {
    public:
        explicit Target(SynthState& synth) : synth_(synth) {}
        void SetNoteVelocity(int note, float velocity) override;
        void NoteOn(int note, bool fromMidi) override;
        void NoteOff(int note, bool fromMidi) override;
        void AllNotesOff(bool fromMidi) override;
        void SetModWheelFromMidi(int value) override;
        void SetPitchWheelFromMidi(int value) override;
        void SetPatchFromMidi(int) override {}

    private:
        SynthState& synth_;
    };
    Target target_;
    MidiDecoder decoder_;
};

class Engine {
public:
    // The sound is SynthState's start-up sound, at options.sampleRate (rates
    // SynthState::SetSampleRate refuses leave it at 44100 Hz). With
    // options.helperThread the render may use a second thread (RenderSplit.h,
    // on a machine with more than one core); without it no thread is ever
    // started and the fastest render for one core runs.
    explicit Engine(const EngineOptions& options = {});
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // The sound, its parameters and the note table.
    SynthState& Synth() { return synth_; }
    const SynthState& Synth() const { return synth_; }

    // A host's value for a parameter, held to its range and rounded where it
    // takes whole numbers (SynthState::SetParameter: the one place a host's
    // value is clamped); a NaN changes nothing. SetParameter(ParamId::Volume,
    // dB) sets the output volume, heard from the next piece (above).
    void SetParameter(ParamId id, float value) { synth_.SetParameter(id, value); }
    float Parameter(ParamId id) const { return synth_.Parameter(id); }

    // The note frequencies (SynthState::SetTuning): a whole table of 128
    // frequencies and whether each key sounds, or twelve equal steps again.
    // One thread at a time; the render takes the table whole at the start of
    // a piece.
    void SetTuning(const double* frequency, const bool* sounds) { synth_.SetTuning(frequency, sounds); }
    void SetEqualTuning() { synth_.SetEqualTuning(); }

    // Renders `frames` frames (any number, 0 included) into two channel
    // buffers, applying each event through the engine's MIDI decoder
    // (EngineMidi) at its frame. Events are taken in array order; one whose
    // frame lies before the frame reached so far is applied there, one at or
    // past `frames` after the last frame (so it takes effect at the next
    // block's first frame). Pieces end at every event's frame and at every
    // multiple of 256 frames counted from construction or from the last
    // ResetGrid.
    void Render(float* left, float* right, uint32_t frames, const EngineEvent* events, size_t count);
    // The same into interleaved stereo (left, right, left, ...).
    void RenderInterleaved(float* out, uint32_t frames, const EngineEvent* events, size_t count);
    // The grid restarts at the next frame rendered (a host restarting its
    // transport, a plugin's activation).
    void ResetGrid() { resetGrid_.store(true, std::memory_order_release); }

private:
    template <class Sink>
    void RenderPieces(uint32_t frames, const EngineEvent* events, size_t count, Sink sink);
    // The output volume over one piece just rendered (interleaved stereo).
    void ApplyVolume(float* piece, uint32_t frames);

    SynthState synth_;
    EngineMidi midi_{synth_};
    // Frames rendered since the grid began (rendering thread only).
    uint64_t gridPosition_ = 0;
    std::atomic<bool> resetGrid_{false};
    // One interleaved piece, for the two-buffer form.
    float piece_[2 * MAX_FRAMES] = {};
    // The volume's state (rendering thread only): the decibels the gain is
    // at or gliding to, the gain of the last frame rendered, and the glide:
    // its ends and how many of its 256 frames are done (256: holding).
    static constexpr uint32_t kVolumeGlideFrames = MAX_FRAMES;
    bool volumeStarted_ = false;
    float volumeDb_ = 0.0f;
    float gain_ = 1.0f;
    float glideFrom_ = 1.0f;
    float glideTo_ = 1.0f;
    uint32_t glideDone_ = kVolumeGlideFrames;
};
