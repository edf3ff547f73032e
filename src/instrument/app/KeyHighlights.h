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

// The keys MIDI input holds as its thread has decided them, ahead of the note
// table: a MIDI note reaches the note table a buffer later, at its own frame.
// Any thread.
class HeldKeys {
public:
    void Set(int note) { Word(note).fetch_or(Bit(note), std::memory_order_relaxed); }
    void Reset(int note) { Word(note).fetch_and(~Bit(note), std::memory_order_relaxed); }
    bool Test(int note) const
    {
        return note >= 0 && note < 128 && (bits_[note >> 6].load(std::memory_order_relaxed) & Bit(note)) != 0;
    }
    void Clear()
    {
        bits_[0].store(0, std::memory_order_relaxed);
        bits_[1].store(0, std::memory_order_relaxed);
    }

private:
    static uint64_t Bit(int note) { return uint64_t{1} << (note & 63); }
    std::atomic<uint64_t>& Word(int note) { return bits_[(note >> 6) & 1]; }
    std::atomic<uint64_t> bits_[2] = {};
};

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
    // `midiKeys` (may be null): notes MIDI input started that the note table
    // plays from a later frame; a queued key-down of one of them is shown.
    KeyHighlights(const SynthState& synth, KeyLights& lights,
                  std::function<void(std::function<void()>)> runOnGui, const HeldKeys* midiKeys = nullptr);

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
    const HeldKeys* midiKeys_;
    KeyLights& lights_;
    std::function<void(std::function<void()>)> runOnGui_;
    const std::thread::id guiThread_;

    uint16_t queue_[kQueueSize] = {};
    std::atomic<uint32_t> head_{0}; // written by the producer
    std::atomic<uint32_t> tail_{0}; // written by the GUI thread
    std::atomic<bool> replayPosted_{false};
    std::atomic<bool> overflowed_{false};
};
