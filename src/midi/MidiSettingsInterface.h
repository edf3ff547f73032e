#pragma once
// What the MIDI settings dialog asks of the main window, and the two MIDI
// port objects the main window owns through it. The operations are declared
// in their fixed order. Until MIDI ports are opened (RtMidi), midiIn and
// midiOut stay null and the main window hands the choices to the Instrument,
// which keeps them.
// GUI thread.

class RtMidiIn;
class RtMidiOut;

class MidiSettingsInterface {
public:
    virtual ~MidiSettingsInterface() = default;
    virtual void SelectMidiInputDevice(int index) = 0;
    virtual void SelectMidiOutputDevice(int index) = 0;
    virtual void SetMidiInputChannel(int channel) = 0;
    virtual void SetMidiOutputChannel(int channel) = 0;
    virtual void SetMidiOutputEnabled(bool enabled) = 0;

    RtMidiIn* midiIn = nullptr;
    RtMidiOut* midiOut = nullptr;
};
