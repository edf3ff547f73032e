#pragma once
// MIDI input, decoded: one channel's notes, all-notes-off, program change and
// the two wheels, acted on at once on whatever it plays (the instrument in the
// program, an Engine's note table in any host). Nothing here knows a window or a
// MIDI library.
//
// Threads: Decode and ProcessMidiMessage run on the MIDI input thread (on JACK
// that is JACK's real-time thread): they never lock, wait or allocate, and
// neither may the MidiTarget they call. inputChannel may be set from any
// thread; a message decoded after the store sees the new channel. LiftPedal
// may be called from any thread.
//
// The sustain pedal (controller 64, down at 64 or above) holds back the Note
// Offs of the input channel until it comes up, then releases those notes
// together. A note struck again while it sounds on the pedal ends and starts
// again (a Note Off, then its Note On), held by its key once more; released while the pedal is down it waits for the
// pedal once more. All-notes-off lifts the pedal. Notes played from the
// computer keyboard or the mouse do not pass through here and are not held.

#include <atomic>
#include <bitset>
#include <cstddef>
#include <cstdint>

#include "midi/MidiInputHandler.h"
#include "util/Relaxed.h"

// What a decoded message does. Called only from Decode, in message order.
class MidiTarget {
public:
    virtual ~MidiTarget() = default;
    // The note's level from its Note On velocity (1/127 to 1); always stored
    // before the NoteOn that follows it, also for a note already held.
    virtual void SetNoteVelocity(int note, float velocity) = 0;
    virtual void NoteOn(int note, bool fromMidi) = 0;
    virtual void NoteOff(int note, bool fromMidi) = 0;
    virtual void AllNotesOff(bool fromMidi) = 0;
    // The wheels at a position 0 to 16383, as if moved there; nothing is
    // echoed. The mod wheel brings its tremolo depth along (value / 16383).
    virtual void SetModWheelFromMidi(int value) = 0;
    virtual void SetPitchWheelFromMidi(int value) = 0;
    // Program change: patch 1 to 128 becomes the current one; nothing is sent
    // and the sound stays as it is.
    virtual void SetPatchFromMidi(int patch) = 0;
};

// What MIDI input changed that a window shows. The decoder marks a flag per
// kind of change; the GUI thread takes the flags (a timer polls them) and then
// shows the current values of whatever it displays. A burst of any length
// therefore costs the GUI thread one update per poll, with the latest value.
class MidiDisplayChanges {
public:
    enum : uint32_t {
        kModWheel = 1,
        kPitchWheel = 2,
        kPatch = 4,
    };
    // Any thread.
    void Mark(uint32_t what) { bits_.fetch_or(what, std::memory_order_release); }
    // GUI thread: the flags marked since the last take.
    uint32_t Take() { return bits_.exchange(0, std::memory_order_acquire); }

private:
    std::atomic<uint32_t> bits_{0};
};

class MidiDecoder : public MidiInputHandler {
public:
    // `display` may be null (no window).
    explicit MidiDecoder(MidiTarget& target, MidiDisplayChanges* display = nullptr);

    // One whole message as the MIDI library delivers it: a status byte and up
    // to three data bytes. An empty message, or one longer than four bytes,
    // is ignored.
    void Decode(const uint8_t* bytes, size_t size);
    // The MIDI input port's handler: Decode.
    void OnMidiMessage(const uint8_t* bytes, size_t size) override { Decode(bytes, size); }

    // A message unpacked into status, two data bytes and a fourth byte that no
    // message uses (missing bytes are 0). Acts only on the input channel's
    // Note On, Note Off, Control Change 1, 64 and 123, Program Change and
    // Pitch Bend; everything else is ignored, as is a message whose data bytes are
    // not 7-bit values.
    void ProcessMidiMessage(uint8_t status, uint8_t data1, uint8_t data2, uint8_t fourth);

    // The channel 1 to 16 that is decoded.
    Relaxed<int> inputChannel{1};

    // Any thread: the pedal counts as up from the next message on, and the
    // notes it held are forgotten (the caller silences them itself, as Panic
    // does).
    void LiftPedal() { liftPedal_.store(true, std::memory_order_release); }

private:
    void NoteOff(int note);
    void PedalUp();

    std::atomic<bool> liftPedal_{false};
    // MIDI input thread only.
    bool pedalDown_ = false;
    std::bitset<128> heldByPedal_; // released keys whose Note Off waits for the pedal
    MidiTarget& target_;
    MidiDisplayChanges* display_;
};
