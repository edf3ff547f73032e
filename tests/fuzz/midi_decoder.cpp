// Fuzzing harness of MIDI input: the input is a run of messages, each a length
// byte (taken modulo 6, so 0 to 5) and that many bytes, decoded in order onto
// the note events of a real synthesis state, with a buffer rendered every few
// messages and after the last. A message of 0 or 5 bytes, a data byte above
// 127, a status on another channel or a system message must all be harmless.
// Checked after every message: each note or key the decoder reaches is inside
// the note table and the seven octave controls, every echo is a well-formed
// channel message, a Note On leaves its note held and a Note Off releases it,
// the wheels stay within 0 to 16383, a program change names patch 1 to 128,
// and the render stays finite with its meters equal on both sides.
#include <cmath>
#include <cstdint>

#include "FuzzSupport.h"
#include "midi/MidiDecoder.h"
#include "midi/NoteEvents.h"
#include "synth/OutputGuard.h"
#include "synth/RenderFast.h"

namespace {

bool ValidNote(int note) { return note >= 0 && note < NUM_NOTES; }

class CheckedKeys : public KeyDisplay {
public:
    void ShowKeyDown(int note) override { Check(note); }
    void ShowKeyUp(int note) override { Check(note); }
    void ClearAllKeys() override {}

private:
    static void Check(int note)
    {
        FUZZ_CHECK(ValidNote(note));
        FUZZ_CHECK(OctaveOfNote(note) >= 0 && OctaveOfNote(note) < NUM_OCTAVES);
        FUZZ_CHECK(KeyOfNote(note) >= 0 && KeyOfNote(note) < KEYS_PER_OCTAVE);
    }
};

class CheckedSender : public MidiSender {
public:
    void SendMidiMessage(uint8_t status, uint8_t data1, uint8_t data2) override
    {
        FUZZ_CHECK(status >= 0x80 && status < 0xF0);
        FUZZ_CHECK(data1 < 128);
        FUZZ_CHECK(MidiMessageSize(status) == 2 || data2 < 128);
    }
};

// What the instrument does with decoded input, minus its windows: notes
// through the note events, the wheels into the state.
class FuzzTarget : public MidiTarget {
public:
    FuzzTarget(SynthState& state, NoteEvents& notes) : state_(state), notes_(notes) {}

    void SetNoteVelocity(int note, float velocity) override
    {
        FUZZ_CHECK(ValidNote(note));
        FUZZ_CHECK(velocity > 0.0f && velocity <= 1.0f);
        state_.SetNoteVelocity(note, velocity);
    }
    void NoteOn(int note, bool fromMidi) override
    {
        FUZZ_CHECK(ValidNote(note) && fromMidi);
        notes_.NoteOn(note, fromMidi);
        FUZZ_CHECK(state_.IsKeyDown(note));
    }
    void NoteOff(int note, bool fromMidi) override
    {
        FUZZ_CHECK(ValidNote(note) && fromMidi);
        notes_.NoteOff(note, fromMidi);
        FUZZ_CHECK(!state_.IsKeyDown(note));
    }
    void AllNotesOff(bool fromMidi) override
    {
        FUZZ_CHECK(fromMidi);
        notes_.AllNotesOff(fromMidi);
        for (int note = 0; note < NUM_NOTES; ++note)
            FUZZ_CHECK(!state_.IsKeyDown(note));
    }
    void SetModWheelFromMidi(int value) override
    {
        FUZZ_CHECK(value >= 0 && value <= 16383);
        state_.SetModWheelDepth(SynthState::ModWheelDepthFromValue(value));
    }
    void SetPitchWheelFromMidi(int value) override
    {
        FUZZ_CHECK(value >= 0 && value <= 16383);
        state_.SetPitchWheel(static_cast<float>(value));
    }
    void SetPatchFromMidi(int patch) override { FUZZ_CHECK(patch >= 1 && patch <= 128); }

private:
    SynthState& state_;
    NoteEvents& notes_;
};

void RenderChecked(SynthState& state)
{
    static float out[2 * MAX_FRAMES];
    RenderWith(state, ChosenRenderVariant(), out, MAX_FRAMES);
    SilenceNonFinite(out, 2 * MAX_FRAMES);
    for (float v : out)
        FUZZ_CHECK(std::isfinite(v));
    FUZZ_CHECK(std::isfinite(state.LeftPeak()) && state.LeftPeak() == state.RightPeak());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SynthState& state = FuzzState();
    static CheckedKeys keys;
    static CheckedSender sender;
    static NoteEvents notes(state, keys, sender);
    static FuzzTarget target(state, notes);
    static MidiDecoder decoder(target);
    notes.outputEnabled = true; // the echo path too

    size_t at = 0;
    int messages = 0;
    while (at < size) {
        const size_t length = data[at++] % 6;
        const size_t take = length < size - at ? length : size - at;
        decoder.Decode(data + at, take);
        at += take;
        if (++messages % 8 == 0)
            RenderChecked(state);
    }
    RenderChecked(state);

    // Leave the shared state as the next input expects it: nothing held, the
    // wheels at rest.
    notes.AllNotesOff(false);
    for (int note = 0; note < NUM_NOTES; ++note)
        FUZZ_CHECK(!state.IsKeyDown(note));
    state.SetPitchWheel(PITCH_WHEEL_CENTRE);
    state.SetModWheelDepth(0.0f);
    return 0;
}
