#pragma once
// MIDI input with the time each message came: what the program's input
// devices deliver to, so that the audio callback can play each message at its
// own frame (audio/MidiSchedule.h).
//  - JACK MIDI input knows the frame of each event in its cycle: it passes
//    JACK's frame count (and the monotonic time of that frame, for an audio
//    device that is not on JACK).
//  - ALSA's sequencer (through RtMidi) delivers each message as it comes: its
//    arrival on the monotonic clock is its time, and OnMidiMessage stamps it.
//
// Threads: the MIDI input thread of whichever device delivers; never locks,
// waits or allocates.

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "midi/MidiInputHandler.h"

struct MidiStamp {
    int64_t nanoseconds = 0; // CLOCK_MONOTONIC (std::chrono::steady_clock)
    uint32_t jackFrame = 0;
    bool hasJackFrame = false;

    static int64_t NowNanoseconds()
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
};

class TimedMidiInputHandler : public MidiInputHandler {
public:
    virtual void OnTimedMidiMessage(const uint8_t* bytes, size_t size, const MidiStamp& stamp) = 0;
    // A message without a time of its own: it came now.
    void OnMidiMessage(const uint8_t* bytes, size_t size) override
    {
        MidiStamp now;
        now.nanoseconds = MidiStamp::NowNanoseconds();
        OnTimedMidiMessage(bytes, size, now);
    }
};
