#pragma once
// The MIDI devices of the instrument: which input and output port is chosen,
// opening them (at start-up and when the user picks another), and the
// channel rule shared by both directions. The ports are given from outside,
// so tests use fake lists and the program the MIDI library's adapter.
//
// Threads: GUI thread.

#include <functional>
#include <string>
#include <vector>

#include "midi/MidiPorts.h"

class MidiDeviceSettings {
public:
    // Either port may be null when the MIDI library could not be used at all;
    // `tell` shows a message to the user and returns when it is read.
    MidiDeviceSettings(MidiInputDevice* in, MidiOutputDevice* out, std::function<void(const std::string&)> tell);

    // The devices to use from now on (either may be null).
    void SetDevices(MidiInputDevice* in, MidiOutputDevice* out)
    {
        in_ = in;
        out_ = out;
    }

    // Start-up: the input port named `inputName` is opened when it is there
    // (see ChooseMidiPort), else port 0 when there is one, else the user reads
    // that MIDI input is disabled; then the same for output.
    void OpenAtStart(const std::string& inputName = {}, const std::string& outputName = {});

    // Keeps the index and opens that port (the one open is closed first). A
    // port that cannot be opened is told with the library's text; the index
    // is kept all the same.
    void SelectInputDevice(int index);
    void SelectOutputDevice(int index);

    int InputDevice() const { return inputDevice_; }
    int OutputDevice() const { return outputDevice_; }
    // The name of the port open now, as it was listed when it opened; empty
    // while none is open (none yet, or the last choice failed to open).
    const std::string& InputPortName() const { return inputPort_; }
    const std::string& OutputPortName() const { return outputPort_; }
    // Where the open port stands in the list as it is now (ports come and go
    // while the program runs), or -1 when none is open or it is gone.
    int OpenInputEntry() const;
    int OpenOutputEntry() const;
    MidiInputDevice* Input() const { return in_; }
    MidiOutputDevice* Output() const { return out_; }

    // Called after an output port has been opened.
    std::function<void()> onOutputOpened;

    static const char* const kNoInputText;
    static const char* const kNoOutputText;

private:
    MidiInputDevice* in_;
    MidiOutputDevice* out_;
    std::function<void(const std::string&)> tell_;
    int inputDevice_ = 0;
    int outputDevice_ = 0;
    std::string inputPort_;
    std::string outputPort_;
};

// The names of a list's ports, entry 0 first; none for a null list.
std::vector<std::string> MidiPortNames(MidiPortList* list);

// The entry to open at start-up for a port remembered by `name`: the port of
// that name; else, where a name carries ALSA's client and port numbers at its
// end ("Keys:Keys MIDI 1 20:0", numbers that change when the device is
// plugged in again), the first port whose name differs only in those; else
// port 0. -1 when the list is empty.
int ChooseMidiPort(const std::string& name, const std::vector<std::string>& present);

// A MIDI channel as the settings store it: 1 to 16, a value above 16 (the
// dialog's step past the last) being 1.
int MidiChannelSetting(int channel);
