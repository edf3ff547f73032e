#pragma once
// The MIDI library (RtMidi) behind the program's port interfaces: the input
// object with the client name "Marovane in" and the port "MIDI in", the output
// object "Marovane out" with the port "MIDI out", their port lists without the
// program's own ports, and a send that never waits.
//
// On JACK the devices share a client of the program's own without ports
// ("Marovane probe"), through which each finds the name JACK gave its
// library's client and the output asks the server for its cycle count; see
// OwnJackClients.
//
// Back ends: the library's default (ALSA's sequencer) throws where there is
// no sequencer; the objects are then made on the next back end the library
// was built with (JACK). Where none can be made, there are no objects and the
// program runs without MIDI.
//
// MIDI input on JACK is the program's own JACK client (JackMidiInputDevice),
// with the same client and port names, lists and connections: the library's
// JACK input stamps each message with the time its process callback ran and
// drops the event's frame within the cycle, so notes sent a known number of
// frames apart would arrive up to a period off. The JACK client's events
// carry JACK's frame count; ALSA's sequencer delivers each message as it
// comes, so the library's input stays for ALSA, stamped on arrival
// (TimedMidiInput.h). Output stays the library's on every back end.
//
// Errors: the library's error callback is installed, so that its warnings
// stay off the terminal; its errors are kept and returned by Open with the
// library's own text.
//
// Threads: everything on the GUI thread, except the input handler, which the
// library calls on its MIDI input thread (on JACK, JACK's real-time thread)
// from the first successful Open until the input object is destroyed.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/MidiPorts.h"
#include "midi/TimedMidiInput.h"

class RtMidi;
class RtMidiIn;
class RtMidiOut;

// What both directions share: the library object, its error text, and the
// mapping from the offered list to the library's own port numbers.
class RtMidiDeviceBase {
public:
    RtMidiDeviceBase(RtMidi& midi, int api, std::string portName);
    virtual ~RtMidiDeviceBase();

    // The back end in use: "alsa", "jack", ...
    std::string ApiName() const;

protected:
    int Count();
    std::string Name(int index);
    // Closes the open port, opens offered port `index`; the error text or "".
    std::string OpenOffered(int index);
    bool PortOpen() const;
    // The library port numbers of the offered ports, in order.
    std::vector<unsigned> Offered();
    bool IsJack() const;
    // Finds the library's JACK client by the port just opened under
    // `uniquePortName` and notes its name as one of the program's own.
    void LearnOwnClient(const std::string& uniquePortName);

public:
    // The library's error callback: keeps the text of an error, drops warnings.
    void OnLibraryError(bool warning, const std::string& text);

protected:
    RtMidi& midi_;
    const int api_;
    const std::string portName_;
    std::string error_;
    std::string ownClient_; // the library's JACK client as JACK named it, or ""
};

// An input device that names its back end.
class ApiMidiInputDevice : public MidiInputDevice {
public:
    virtual std::string ApiName() const = 0;
};

class RtMidiInputDevice final : public ApiMidiInputDevice, public RtMidiDeviceBase {
public:
    RtMidiInputDevice(std::unique_ptr<RtMidiIn> midi, MidiInputHandler& handler);
    // Ends the deliveries: the library's input thread is stopped when this returns.
    ~RtMidiInputDevice() override;

    int PortCount() override { return Count(); }
    std::string PortName(int index) override { return Name(index); }
    std::string Open(int index) override;
    bool IsOpen() const override { return PortOpen(); }
    std::string ApiName() const override { return RtMidiDeviceBase::ApiName(); }

private:
    static void OnMessage(double, std::vector<unsigned char>* message, void* self);

    std::unique_ptr<RtMidiIn> in_;
    MidiInputHandler& handler_;
    bool callbackInstalled_ = false;
};

class RtMidiOutputDevice final : public MidiOutputDevice, public RtMidiDeviceBase {
public:
    explicit RtMidiOutputDevice(std::unique_ptr<RtMidiOut> midi);
    ~RtMidiOutputDevice() override;

    int PortCount() override { return Count(); }
    std::string PortName(int index) override { return Name(index); }
    std::string Open(int index) override;
    bool IsOpen() const override { return PortOpen(); }
    size_t Room() override;
    std::string Send(const uint8_t* bytes, size_t size) override;
    bool Vanished() override;
    using RtMidiDeviceBase::ApiName;

private:
    // On JACK the library queues every message in a ring of 16 KiB that its
    // process callback empties once per cycle, and waits (for ever, with no
    // server) while the ring is full. What was handed over in the last few
    // cycles is counted here, so that a send never meets a full ring.
    struct Cycle {
        uint32_t frame = 0;
        size_t bytes = 0;
    };
    size_t BytesInRing(uint32_t now) const;

    std::unique_ptr<RtMidiOut> out_;
    void* jackClient_ = nullptr; // the probe client once the port is found, for the cycle count
    std::string jackPort_;        // our port's full JACK name once open
    Cycle cycles_[8];
    uint32_t period_ = 256;
};

// MIDI input on JACK: the client "Marovane in" (made when first needed, so a
// server that starts later is found), its port "MIDI in" registered at the
// first Open and connected to the one source chosen. Each event reaches the
// handler on JACK's process thread with its frame: the cycle's first frame
// plus the event's offset in it. A server that shuts down leaves the device
// without ports; Open then says so.
class JackMidiInputDevice final : public ApiMidiInputDevice {
public:
    explicit JackMidiInputDevice(TimedMidiInputHandler& handler);
    // The client is closed: no delivery after this returns.
    ~JackMidiInputDevice() override;

    int PortCount() override { return static_cast<int>(Offered().size()); }
    std::string PortName(int index) override;
    std::string Open(int index) override;
    bool IsOpen() const override { return !source_.empty(); }
    std::string ApiName() const override { return "jack"; }

private:
    bool Connect();
    std::vector<std::string> Offered();
    static int Process(uint32_t frames, void* self);
    static void ServerGone(void* self);

    TimedMidiInputHandler& handler_;
    void* client_ = nullptr;           // jack_client_t*
    std::atomic<void*> port_{nullptr}; // jack_port_t*, read by the process thread
    double rate_ = 44100;
    std::string source_; // the connected source's full name, or ""
    std::atomic<bool> gone_{false};
};

struct RtMidiDevices {
    std::unique_ptr<ApiMidiInputDevice> in;
    std::unique_ptr<RtMidiOutputDevice> out;
};

// Makes the input object, then the output object, each on the default back
// end or the next one that can be made (on JACK, input is the program's own
// JackMidiInputDevice). `handler` receives MIDI input.
RtMidiDevices CreateRtMidiDevices(TimedMidiInputHandler& handler);

// The JACK clients of the MIDI devices that exist now and have opened a JACK
// port (as JACK named them: a second program's "Marovane in" becomes
// "Marovane in-01"); other JACK clients of the process are not among them.
std::vector<std::string> OwnJackClients();
