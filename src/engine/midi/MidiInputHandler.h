#pragma once
// The receiving end of MIDI input, whatever delivers it: a MIDI library's
// input port (midi/MidiPorts.h in the core) or a host's event list.

#include <cstddef>
#include <cstdint>

// Where every incoming message goes: one whole message per call, on the MIDI
// input thread. Must not lock, wait or allocate.
class MidiInputHandler {
public:
    virtual ~MidiInputHandler() = default;
    virtual void OnMidiMessage(const uint8_t* bytes, size_t size) = 0;
};
