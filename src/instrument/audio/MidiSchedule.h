#pragma once
// MIDI input on its way to the render: the synth operations MIDI input asks
// for (Note On with its velocity, Note Off, All Notes Off, the two wheels),
// each with the time its message came, wait here until the audio callback
// plays each at its own frame of a buffer through the engine's block call.
//
// What "on time" means: every message plays exactly one audio period after
// it came, so the distances between messages are kept to the frame where the
// input knows the frame (JACK MIDI: the event's frame in its cycle) and to
// the smoothed callback clock elsewhere (ALSA: the arrival time on the
// monotonic clock).
//  - On a JACK server the audio callback runs inside JACK's cycle: a message
//    stamped with JACK frame f plays in the cycle that starts at or before
//    f + period and after f, at frame f + period - cycle start.
//  - Otherwise a message stamped with monotonic time t (nanoseconds) plays at
//    (t - buffer start) * rate + frames, the buffer's start on the monotonic
//    clock being the callback's entry time smoothed by a delay-locked loop
//    (AudioClock below).
// A message late for its frame plays at the first frame of the buffer; one
// more than kMaxAheadSeconds in the future (a clock that jumped) plays at
// once, so nothing is held for ever.
//
// The queue holds kCapacity messages. When it is full (a flood faster than
// the callback takes it, or the audio stalled) a message is dropped and
// counted: the MIDI thread never waits. Nothing is lost for good, though:
// the schedule keeps what every message pushed, queued or dropped, leaves
// behind (which notes MIDI holds and at what velocity, which it released,
// the two wheels' last values), and the first buffer after a drop that has
// played everything queued before it plays that state at its last frame:
// the notes MIDI holds sound, those it released are released, the wheels
// stand where MIDI left them.
//
// Threads: Push on one producer thread (MIDI input: the library's input
// thread or the JACK MIDI input's process thread); Take on one consumer (the
// audio callback). Both are lock-free and allocate nothing. Dropped from any
// thread.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "synth/Engine.h"

// One synth operation as MIDI bytes (channel 1), with its time.
struct TimedMidiMessage {
    int64_t nanoseconds = 0; // CLOCK_MONOTONIC (std::chrono::steady_clock)
    uint32_t jackFrame = 0;  // JACK's frame count, where hasJackFrame
    bool hasJackFrame = false;
    uint8_t size = 0;
    uint8_t bytes[3] = {0, 0, 0};
};

// Where the buffer being rendered lies on the clocks the messages carry.
struct BufferClock {
    uint32_t frames = 0;      // this buffer's length, which is also the latency
    double sampleRate = 44100;
    int64_t startNanoseconds = 0; // the buffer's start on the monotonic clock (smoothed)
    bool hasJackFrame = false;    // the callback runs in the JACK cycle starting at jackFrame
    uint32_t jackFrame = 0;
};

class MidiSchedule {
public:
    static constexpr size_t kCapacity = 8192; // a power of two
    static constexpr double kMaxAheadSeconds = 1.0;

    // Producer: false (and counted) when the queue is full.
    bool Push(const TimedMidiMessage& message);
    // How many messages were dropped for want of room since construction.
    uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }

    // Consumer: moves every message due in this buffer into `events` (at
    // most `room`, which should be kRoom), in order, each at its frame
    // (frames never decrease); after a drop, the state MIDI left follows
    // them. Messages due in a later buffer stay queued. Returns the count.
    static constexpr size_t kRoom = kCapacity + 130;
    size_t Take(const BufferClock& clock, EngineEvent* events, size_t room);
    // Consumer: drops everything queued (the stream restarted).
    void Clear();

    // The frame of `message` in the buffer: below 0 late, at or past
    // clock.frames due later. Exposed for tests.
    static int64_t FrameIn(const TimedMidiMessage& message, const BufferClock& clock);

private:
    // Producer: what the message leaves behind.
    void Note(const TimedMidiMessage& message);
    // Consumer: the state after a drop, at `frame`.
    size_t Restore(uint32_t frame, EngineEvent* events, size_t room);

    TimedMidiMessage ring_[kCapacity];
    std::atomic<bool> overflowed_{false};
    // What MIDI left: per note 0 (released or never played), else the held
    // note's velocity; whether MIDI touched the note since the last restore;
    // the wheels' last coarse values + 1 (0: never moved).
    std::atomic<uint8_t> held_[128] = {};
    std::atomic<bool> touched_[128] = {};
    std::atomic<int> bend_{0};
    std::atomic<int> modWheel_{0};
    std::atomic<uint64_t> head_{0}; // written by the producer
    std::atomic<uint64_t> tail_{0}; // written by the consumer
    std::atomic<uint64_t> dropped_{0};
};

// The audio callback's place on the monotonic clock: the entry times of the
// callbacks, which wobble with the scheduler, smoothed by a second-order
// delay-locked loop (bandwidth about 1 Hz) into evenly spaced buffer starts.
// A callback far from where the loop expects it (a stall, a changed buffer
// size, a clock jump) starts the loop afresh there. Audio thread only.
class AudioClock {
public:
    // The smoothed start of the buffer whose callback entered at `now`.
    int64_t Update(int64_t nowNanoseconds, uint32_t frames, double sampleRate);
    void Reset() { started_ = false; }

private:
    bool started_ = false;
    uint32_t frames_ = 0;
    double t0_ = 0; // this buffer's start
    double t1_ = 0; // the next one's, predicted
    double period_ = 0;
    double b_ = 0, c_ = 0;
};
