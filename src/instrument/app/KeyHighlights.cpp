#include "KeyHighlights.h"

#include "synth/SynthState.h"

KeyHighlights::KeyHighlights(const SynthState& synth, KeyLights& lights,
                             std::function<void(std::function<void()>)> runOnGui, const HeldKeys* midiKeys)
    : synth_(synth), midiKeys_(midiKeys), lights_(lights), runOnGui_(std::move(runOnGui)), guiThread_(std::this_thread::get_id())
{
}

void KeyHighlights::ShowKeyDown(int note) { Post(static_cast<uint16_t>(kDown | note)); }
void KeyHighlights::ShowKeyUp(int note) { Post(static_cast<uint16_t>(kUp | note)); }
void KeyHighlights::ClearAllKeys() { Post(kClear); }

void KeyHighlights::Post(uint16_t change)
{
    if (OnGuiThread()) {
        // Whatever the other thread did before comes first.
        Replay();
        Apply(change);
        return;
    }
    const uint32_t head = head_.load(std::memory_order_relaxed);
    if (head - tail_.load(std::memory_order_acquire) >= kQueueSize) {
        overflowed_.store(true, std::memory_order_release);
    } else {
        queue_[head % kQueueSize] = change;
        head_.store(head + 1, std::memory_order_release);
    }
    if (!replayPosted_.exchange(true))
        runOnGui_([this] { Replay(); });
}

void KeyHighlights::Replay()
{
    // Cleared before reading, so a change queued from now on posts again.
    replayPosted_.store(false);
    uint32_t tail = tail_.load(std::memory_order_relaxed);
    const uint32_t head = head_.load(std::memory_order_acquire);
    for (; tail != head; ++tail)
        Apply(queue_[tail % kQueueSize]);
    tail_.store(tail, std::memory_order_release);
    if (overflowed_.exchange(false))
        Resynchronise();
}

void KeyHighlights::Apply(uint16_t change)
{
    const int note = change & 0xFF;
    switch (change & 0xFF00) {
    case kDown:
        // A note released since it was queued stays dark. (Changes made on
        // the GUI thread come after the note table changed, so they pass; a
        // MIDI note on its way to its frame counts as held.)
        if (synth_.IsKeyDown(note) || (midiKeys_ && midiKeys_->Test(note)))
            lights_.SetKeyLit(OctaveOfNote(note), KeyOfNote(note), true);
        break;
    case kUp: lights_.SetKeyLit(OctaveOfNote(note), KeyOfNote(note), false); break;
    default: lights_.ClearKeys(); break;
    }
}

void KeyHighlights::Resynchronise()
{
    lights_.ClearKeys();
    for (int note = 0; note < NUM_NOTES; ++note)
        if (synth_.IsKeyDown(note))
            lights_.SetKeyLit(OctaveOfNote(note), KeyOfNote(note), true);
}
