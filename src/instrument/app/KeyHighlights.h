#pragma once
// The key highlights of the on-screen keyboard: which keys are lit, and how a
// change made on another thread reaches the GUI thread. The note events report
// every change here (as the KeyDisplay); on the GUI thread it is shown at once,
// from the MIDI input thread it is queued and replayed on the GUI thread in the
// order it happened.
//
// Two rules keep the picture true:
// - releasing a note clears its key, even when another note shown on the same
//   key still sounds (notes 12 and 24 share the lowest C);
// - a queued key-down whose note is no longer held when it arrives is dropped,
//   and a change made on the GUI thread first replays everything queued before
//   it, so a note lit from another thread just before a clear does not stay
//   lit after it.
//
// Threads: ShowKeyDown, ShowKeyUp and ClearAllKeys on the GUI thread and on one
// other thread (MIDI input); Replay and the KeyLights calls on the GUI thread
// only. The queue is lock-free: one producer, one consumer.

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "midi/NoteEvents.h"

class SynthState;

// The octave controls as the highlights see them. GUI thread.
class KeyLights {
public:
    virtual ~KeyLights() = default;
    virtual void SetKeyLit(int octave, int key, bool lit) = 0;
    // Every key of every control dark, and the window redrawn.
    virtual void ClearKeys() = 0;
};

class KeyHighlights : public KeyDisplay {
public:
    // The GUI thread is the constructing thread. runOnGui queues a call to the
    // GUI thread (the window's CallAfter); it is called from the other thread.
    KeyHighlights(const SynthState& synth, KeyLights& lights,
                  std::function<void(std::function<void()>)> runOnGui);

    void ShowKeyDown(int note) override;
    void ShowKeyUp(int note) override;
    void ClearAllKeys() override;

    // Shows every change queued from the other thread, in order. GUI thread.
    void Replay();

    static constexpr int kQueueSize = 1024;

private:
    enum Kind : uint16_t { kDown = 0x100, kUp = 0x200, kClear = 0x300 };
    bool OnGuiThread() const { return std::this_thread::get_id() == guiThread_; }
    void Post(uint16_t change);
    void Apply(uint16_t change);
    // After a full queue: every key shows whether its notes are held.
    void Resynchronise();

    const SynthState& synth_;
    KeyLights& lights_;
    std::function<void(std::function<void()>)> runOnGui_;
    const std::thread::id guiThread_;

    uint16_t queue_[kQueueSize] = {};
    std::atomic<uint32_t> head_{0}; // written by the producer
    std::atomic<uint32_t> tail_{0}; // written by the GUI thread
    std::atomic<bool> replayPosted_{false};
    std::atomic<bool> overflowed_{false};
};
