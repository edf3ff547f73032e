#pragma once
// What the MIDI settings dialog asks of the main window, and the MIDI port
// lists it shows. The operations are declared in their fixed order. midiIn and
// midiOut are the input and output ports' lists (the MIDI library's adapter
// in the program, fake lists in tests); either is null when there is no MIDI
// object. Not owned through this interface.
// GUI thread.

#include "midi/MidiPorts.h"

class MidiSettingsInterface {
public:
    virtual ~MidiSettingsInterface() = default;
    virtual void SelectMidiInputDevice(int index) = 0;
    virtual void SelectMidiOutputDevice(int index) = 0;
    virtual void SetMidiInputChannel(int channel) = 0;
    virtual void SetMidiOutputChannel(int channel) = 0;
    virtual void SetMidiOutputEnabled(bool enabled) = 0;

    MidiPortList* midiIn = nullptr;
    MidiPortList* midiOut = nullptr;
};
