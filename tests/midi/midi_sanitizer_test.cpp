// MIDI input on its own thread while the GUI thread plays, pumps the output
// and takes the display changes, and the audio thread renders: built with
// ThreadSanitizer (any data race fails the run) and with AddressSanitizer and
// UndefinedBehaviorSanitizer (messages of every length and byte value).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "midi/MidiDecoder.h"
#include "midi/MidiOutput.h"
#include "midi/NoteEvents.h"
#include "synth/RenderFast.h"
#include "synth/SynthState.h"

namespace {

struct CountingDevice : MidiOutputDevice {
    int PortCount() override { return 1; }
    std::string PortName(int) override { return "out"; }
    std::string Open(int) override { return {}; }
    bool IsOpen() const override { return true; }
    size_t Room() override { return 300; }
    std::string Send(const uint8_t*, size_t) override
    {
        ++sent;
        return {};
    }
    bool Vanished() override { return false; }
    long sent = 0;
};

// Counts what the note events hand over, on whichever thread.
struct Counted : MidiSender {
    MidiSender& next;
    std::atomic<long> messages{0};
    explicit Counted(MidiSender& n) : next(n) {}
    void SendMidiMessage(uint8_t s, uint8_t d1, uint8_t d2) override
    {
        ++messages;
        next.SendMidiMessage(s, d1, d2);
    }
};

struct Lights : KeyDisplay {
    std::atomic<int> lit[NUM_NOTES] = {};
    void ShowKeyDown(int note) override { lit[note] = 1; }
    void ShowKeyUp(int note) override { lit[note] = 0; }
    void ClearAllKeys() override
    {
        for (auto& l : lit)
            l = 0;
    }
};

struct Instrumentish : MidiTarget {
    SynthState& synth;
    NoteEvents& notes;
    std::atomic<int> modWheel{0}, patch{1};
    Instrumentish(SynthState& s, NoteEvents& n) : synth(s), notes(n) {}
    void SetNoteVelocity(int note, float v) override { synth.SetNoteVelocity(note, v); }
    void NoteOn(int note, bool fromMidi) override { notes.NoteOn(note, fromMidi); }
    void NoteOff(int note, bool fromMidi) override { notes.NoteOff(note, fromMidi); }
    void AllNotesOff(bool fromMidi) override { notes.AllNotesOff(fromMidi); }
    void SetModWheelFromMidi(int v) override
    {
        modWheel = v;
        synth.SetModWheelDepth(SynthState::ModWheelDepthFromValue(v));
    }
    void SetPitchWheelFromMidi(int v) override { synth.SetPitchWheel(static_cast<float>(v)); }
    void SetPatchFromMidi(int p) override { patch = p; }
};

std::vector<uint8_t> Message(std::mt19937& rng)
{
    // Mostly well-formed channel messages, some of any length and value.
    std::vector<uint8_t> m(rng() % 4 == 0 ? rng() % 9 : 3);
    for (uint8_t& b : m)
        b = static_cast<uint8_t>(rng());
    if (m.size() == 3 && rng() % 2) {
        m[0] = static_cast<uint8_t>(0x80 | (rng() % 0x70));
        m[1] &= 0x7F;
        m[2] &= 0x7F;
    }
    return m;
}

TEST(MidiThreads, DecodingPlayingSendingAndRenderingAtOnce)
{
    auto synth = std::make_unique<SynthState>();
    CountingDevice device;
    MidiOutputPath path(&device);
    Counted counted(path);
    Lights lights;
    NoteEvents notes(*synth, lights, counted);
    notes.outputEnabled = true;
    Instrumentish target(*synth, notes);
    MidiDisplayChanges display;
    MidiDecoder decoder(target, &display);

    std::atomic<bool> stop{false};
    std::thread audio([&] {
        float out[2 * MAX_FRAMES];
        while (!stop)
            RenderWith(*synth, ChosenRenderVariant(), out, MAX_FRAMES);
    });
    std::thread midi([&] {
        std::mt19937 rng(7);
        for (int i = 0; i < 200000; ++i) {
            const std::vector<uint8_t> m = Message(rng);
            decoder.Decode(m.data(), m.size());
            if (i % 50 == 0) {
                // All notes off on the channel listened to: the notes the GUI
                // thread holds are released and echoed from this thread.
                const uint8_t allOff[] = {static_cast<uint8_t>(0xB0 + decoder.inputChannel - 1), 123, 0};
                decoder.Decode(allOff, 3);
            }
        }
    });
    // The GUI thread: plays, changes the channels, pumps, shows.
    uint32_t shown = 0;
    for (int i = 0; i < 2000; ++i) {
        notes.NoteOn(24 + i % 60, false);
        if (i % 3 == 0)
            notes.NoteOff(24 + (i / 3) % 60, false);
        if (i % 100 == 0)
            decoder.inputChannel = 1 + (i / 100) % 3;
        path.Pump();
        shown |= display.Take();
        std::this_thread::yield();
    }
    midi.join();
    notes.AllNotesOff(false);
    path.Pump();
    stop = true;
    audio.join();
    for (int n = 0; n < NUM_NOTES; ++n)
        EXPECT_FALSE(synth->IsKeyDown(n)) << n;
    EXPECT_EQ(device.sent, counted.messages.load()) << "every message reached the port";
    EXPECT_EQ(path.TakeNotice(), "");
    EXPECT_EQ(shown | display.Take(), MidiDisplayChanges::kModWheel | MidiDisplayChanges::kPitchWheel |
                                          MidiDisplayChanges::kPatch);
}

TEST(MidiThreads, MessagesOfAnyLengthAndValue)
{
    auto synth = std::make_unique<SynthState>();
    MidiOutputPath path(nullptr);
    Lights lights;
    NoteEvents notes(*synth, lights, path);
    Instrumentish target(*synth, notes);
    MidiDecoder decoder(target);
    std::mt19937 rng(11);
    for (int i = 0; i < 300000; ++i) {
        std::vector<uint8_t> m(rng() % 9);
        for (uint8_t& b : m)
            b = static_cast<uint8_t>(rng());
        decoder.Decode(m.data(), m.size());
    }
    const uint8_t bytes[64] = {0x90, 60, 100};
    for (size_t n = 0; n <= sizeof bytes; ++n)
        decoder.Decode(bytes, n);
    EXPECT_GE(target.patch.load(), 1);
    EXPECT_LE(target.patch.load(), 128);
    EXPECT_LE(target.modWheel.load(), 16256);
}

} // namespace
