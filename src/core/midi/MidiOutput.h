#pragma once
// Everything the program sends to MIDI goes through one MidiOutputPath, so
// the output port is only ever used from the GUI thread, one message at a
// time, and a send never waits.
//
// Threads:
//  - SendMidiMessage: any thread. On the thread that made the path (the GUI
//    thread) the message goes to the port at once, after anything queued
//    before it. On another thread (MIDI input, whose All Notes Off echoes the
//    released notes) it goes into a fixed lock-free queue, without waiting or
//    allocating, and the GUI thread passes it on at its next Pump. Only one
//    such other thread may send at a time.
//  - Pump, SetPort, Rearm, TakeNotice: GUI thread.
//
// A port that cannot take a message (none open, gone, or full and not
// draining) never stops the program: the messages are dropped and the user is
// told once, until a port is opened again.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <thread>

#include "midi/MidiPorts.h"
#include "midi/NoteEvents.h"

// One channel message of one to three bytes.
struct MidiMessage {
    uint8_t size = 0;
    uint8_t bytes[3] = {0, 0, 0};
};

// A fixed ring for one producer thread and one consumer thread.
template <size_t N>
class MidiMessageQueue {
    static_assert((N & (N - 1)) == 0, "a power of two");

public:
    // Producer. False when the ring is full (the message is not kept).
    bool Push(const MidiMessage& m)
    {
        const size_t head = head_.load(std::memory_order_relaxed);
        if (head - tail_.load(std::memory_order_acquire) == N)
            return false;
        ring_[head & (N - 1)] = m;
        head_.store(head + 1, std::memory_order_release);
        return true;
    }
    // Consumer. False when empty.
    bool Pop(MidiMessage& m)
    {
        const size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail == head_.load(std::memory_order_acquire))
            return false;
        m = ring_[tail & (N - 1)];
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

private:
    std::array<MidiMessage, N> ring_{};
    alignas(64) std::atomic<size_t> head_{0};
    alignas(64) std::atomic<size_t> tail_{0};
};

class MidiOutputPath : public MidiSender {
public:
    // The port may be null: there is no MIDI output at all.
    explicit MidiOutputPath(MidiOutputDevice* port = nullptr);

    void SetPort(MidiOutputDevice* port) { port_ = port; }

    void SendMidiMessage(uint8_t status, uint8_t data1, uint8_t data2) override;

    // Hands over what other threads queued and whatever waited for room.
    // Called by a timer of the GUI thread.
    void Pump();

    // A port was opened: a later refusal is told again.
    void Rearm();

    // The refusal to tell the user about, once; empty when there is nothing
    // new to say.
    std::string TakeNotice();

    // How long a full port may take nothing before its messages are given up.
    static constexpr std::chrono::milliseconds kStallLimit{1000};
    // The most messages that wait for room; older ones beyond are dropped.
    static constexpr size_t kMaxBacklog = 65536;

    static const char* const kNoPortText;
    static const char* const kGoneText;
    static const char* const kBehindText;

private:
    void Flush();
    void TakeQueued();
    void Tell(const std::string& text);

    MidiOutputDevice* port_;
    const std::thread::id owner_;
    MidiMessageQueue<8192> queued_;
    std::atomic<bool> queueOverflowed_{false};
    std::deque<MidiMessage> backlog_;
    bool waiting_ = false;
    std::chrono::steady_clock::time_point waitingSince_{};
    bool told_ = false;
    std::string notice_;
};
