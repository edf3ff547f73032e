#pragma once
// Every note start and stop, whatever its source (computer keyboard, mouse on
// the octave controls, MIDI input, Panic), goes through the operations here:
// they change the note table of SynthState, light and clear the keys of the
// on-screen keyboard, and echo the event to MIDI output unless it came from
// MIDI input.
//
// Threads: the operations run on the GUI thread and on the MIDI input thread.
// They never block. The note table changes at once (SynthState's lock-free
// note operations); the key display is reported to a KeyDisplay, whose
// implementation (KeyHighlights) carries calls made off the GUI thread over
// to it.

#include <cstdint>

#include "util/Relaxed.h"

class SynthState;

// What the main window implements for the octave controls and every other
// note source. Declaration order is part of the interface.
class OctaveCallback {
public:
    virtual ~OctaveCallback() = default;
    virtual void NoteOn(int note, bool fromMidi) = 0;
    virtual void NoteOff(int note, bool fromMidi) = 0;
    virtual void AllNotesOff(bool fromMidi) = 0;
    // Exactly NoteOff(note, false).
    virtual void ReleaseKey(int note) = 0;
};

// Seven octave controls show notes 24 to 107, control k from 24 + 12k.
constexpr int NUM_OCTAVES = 7;
constexpr int FIRST_OCTAVE_NOTE = 24;
constexpr int KEYS_PER_OCTAVE = 12;

// The octave control that shows a note: notes below 36 on control 0, 96 and
// above on control 6, the rest on (note - 24) / 12.
int OctaveOfNote(int note);
// The key within its control: the note's pitch class, 0 being C.
inline int KeyOfNote(int note) { return note % KEYS_PER_OCTAVE; }

// Where the note events show themselves: the key of a note (the control
// OctaveOfNote gives, key KeyOfNote) goes down or up. Called on the thread of
// the note event, after the note table changed.
class KeyDisplay {
public:
    virtual ~KeyDisplay() = default;
    virtual void ShowKeyDown(int note) = 0;
    virtual void ShowKeyUp(int note) = 0;
    // Clears the keys of every control and redraws the window.
    virtual void ClearAllKeys() = 0;
};

// The length in bytes of a channel message with this status byte: Program
// Change and Channel Pressure (0xC0 to 0xDF) have one data byte, the others
// two.
inline int MidiMessageSize(uint8_t status)
{
    return (status & 0xE0) == 0xC0 ? 2 : 3;
}

// Where everything sent to MIDI output goes: one whole channel message of
// MidiMessageSize(status) bytes; data2 is not part of a two-byte message.
class MidiSender {
public:
    virtual ~MidiSender() = default;
    virtual void SendMidiMessage(uint8_t status, uint8_t data1, uint8_t data2) = 0;
};

class NoteEvents {
public:
    NoteEvents(SynthState& synth, KeyDisplay& display, MidiSender& midi);

    // Starts a note that is not held: lights its key, echoes Note On with
    // velocity 127, restarts the note from phase 0 (also one still releasing).
    // A held note is left alone: no retrigger, no echo, no highlight.
    void NoteOn(int note, bool fromMidi);
    // Unlights the key, echoes Note Off and releases the note, whatever its
    // state.
    void NoteOff(int note, bool fromMidi);
    // Releases every held note (each echoed as a Note Off of its own), clears
    // every key, then echoes All Notes Off unless the request came from MIDI.
    void AllNotesOff(bool fromMidi);

    // The echo switch and channel (1 to 16); the switch starts off.
    Relaxed<bool> outputEnabled{false};
    Relaxed<int> outputChannel{1};

    // Sends a channel message on the output channel: `base` is the status
    // without its channel (0x90 for Note On). Does not test outputEnabled.
    void SendOnOutputChannel(uint8_t base, uint8_t data1, uint8_t data2 = 0);

private:
    SynthState& synth_;
    KeyDisplay& display_;
    MidiSender& midi_;
};
