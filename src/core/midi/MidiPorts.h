#pragma once
// The MIDI ports as the program sees them, whatever library lies beneath: the
// ports that other programs offer, listed without the program's own, and one
// port open at a time. The MIDI settings dialog lists them, the device
// settings open them, the output path sends through one. Tests give fake
// lists.
//
// Threads: GUI thread, except MidiInputHandler, which the library calls on
// its MIDI input thread.

#include <cstddef>
#include <cstdint>
#include <string>

#include "midi/MidiInputHandler.h"

class MidiPortList {
public:
    virtual ~MidiPortList() = default;
    // How many ports are offered now.
    virtual int PortCount() = 0;
    // The name of offered port `index`; empty outside the list.
    virtual std::string PortName(int index) = 0;
    // Closes the open port, if any, then opens offered port `index`. Returns
    // why that failed (the library's own text where it gave one), or empty.
    virtual std::string Open(int index) = 0;
    virtual bool IsOpen() const = 0;
};

// An input port delivers to the handler it was made with, from its first
// successful Open until it is destroyed; destroying it ends the deliveries.
class MidiInputDevice : public MidiPortList {};

class MidiOutputDevice : public MidiPortList {
public:
    // How many bytes of messages the open port takes now without making the
    // sender wait; 0 while it takes nothing.
    virtual size_t Room() = 0;
    // Hands one message to the open port. Only called when Room() covers it.
    // Returns the library's error text, or empty.
    virtual std::string Send(const uint8_t* bytes, size_t size) = 0;
    // True once the open port is gone for good (its server stopped, or it was
    // removed from under the program).
    virtual bool Vanished() = 0;
};
