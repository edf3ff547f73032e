#include "NoteEvents.h"

#include "synth/SynthState.h"

int OctaveOfNote(int note)
{
    if (note < 36)
        return 0;
    if (note >= 96)
        return NUM_OCTAVES - 1;
    return (note - FIRST_OCTAVE_NOTE) / KEYS_PER_OCTAVE;
}

NoteEvents::NoteEvents(SynthState& synth, KeyDisplay& display, MidiSender& midi)
    : synth_(synth), display_(display), midi_(midi)
{
}

void NoteEvents::NoteOn(int note, bool fromMidi)
{
    if (note < 0 || note >= NUM_NOTES)
        return;
    // The key state, not noteHeld: the render sets noteHeld only at its next
    // buffer, and a second NoteOn in between must still be a repeat.
    if (synth_.IsKeyDown(note))
        return;
    if (outputEnabled && !fromMidi)
        SendOnOutputChannel(0x90, static_cast<uint8_t>(note), 127);
    synth_.StartNote(note);
    // Lit once the note is held: a highlight that reaches the GUI thread late
    // is shown only if its note is still held then.
    display_.ShowKeyDown(note);
}

void NoteEvents::NoteOff(int note, bool fromMidi)
{
    if (note < 0 || note >= NUM_NOTES)
        return;
    display_.ShowKeyUp(note);
    if (outputEnabled && !fromMidi)
        SendOnOutputChannel(0x80, static_cast<uint8_t>(note), 0);
    synth_.ReleaseNote(note);
}

void NoteEvents::AllNotesOff(bool fromMidi)
{
    for (int note = 0; note < NUM_NOTES; ++note)
        if (synth_.IsKeyDown(note))
            NoteOff(note, false); // echoed even when asked by MIDI input
    display_.ClearAllKeys();
    if (outputEnabled && !fromMidi)
        SendOnOutputChannel(0xB0, 123, 0);
}

void NoteEvents::SendOnOutputChannel(uint8_t base, uint8_t data1, uint8_t data2)
{
    midi_.SendMidiMessage(static_cast<uint8_t>(base + outputChannel - 1), data1, data2);
}
