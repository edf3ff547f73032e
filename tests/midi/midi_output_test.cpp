// The output path: every message reaches the port from the GUI thread, in
// order, never making the sender wait; a port that takes nothing is told
// once. And the one send that starts on the MIDI input thread: the Note Offs
// of an incoming All Notes Off.
#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "midi/MidiDecoder.h"
#include "midi/MidiOutput.h"
#include "midi/NoteEvents.h"
#include "synth/SynthState.h"
#include "FakeMidiDevices.h"

namespace {

using Bytes = std::vector<std::vector<uint8_t>>;

fake::OutputDevice OpenPort()
{
    fake::OutputDevice port("out", {"synth"}, nullptr);
    port.Open(0);
    return port;
}

TEST(MidiOutputPath, GuiThreadSendsGoOutAtOnceWithTheirOwnLength)
{
    fake::OutputDevice port = OpenPort();
    MidiOutputPath path(&port);
    path.SendMidiMessage(0x92, 60, 127);
    path.SendMidiMessage(0xC2, 5, 99); // Program Change has one data byte
    path.SendMidiMessage(0xE2, 0, 64);
    EXPECT_EQ(port.sent, (Bytes{{0x92, 60, 127}, {0xC2, 5}, {0xE2, 0, 64}}));
    EXPECT_EQ(path.TakeNotice(), "");
}

TEST(MidiOutputPath, OtherThreadsQueueForTheGuiThreadInOrder)
{
    fake::OutputDevice port = OpenPort();
    MidiOutputPath path(&port);
    std::thread midi([&] {
        for (uint8_t n = 0; n < 100; ++n)
            path.SendMidiMessage(0x80, n, 0);
    });
    midi.join();
    EXPECT_TRUE(port.sent.empty()) << "only the GUI thread touches the port";
    // A GUI-thread message comes after what was queued before it.
    path.SendMidiMessage(0xB0, 123, 0);
    ASSERT_EQ(port.sent.size(), 101u);
    for (uint8_t n = 0; n < 100; ++n)
        EXPECT_EQ(port.sent[n], (std::vector<uint8_t>{0x80, n, 0}));
    EXPECT_EQ(port.sent.back(), (std::vector<uint8_t>{0xB0, 123, 0}));

    std::thread([&] { path.SendMidiMessage(0x90, 1, 127); }).join();
    path.Pump();
    EXPECT_EQ(port.sent.back(), (std::vector<uint8_t>{0x90, 1, 127}));
}

TEST(MidiOutputPath, WithoutAnOpenPortEachRefusalIsToldOnceUntilAPortOpens)
{
    fake::OutputDevice closed("out", {}, nullptr);
    for (MidiOutputDevice* port : {static_cast<MidiOutputDevice*>(nullptr), static_cast<MidiOutputDevice*>(&closed)}) {
        MidiOutputPath path(port);
        path.SendMidiMessage(0x90, 60, 127);
        EXPECT_EQ(path.TakeNotice(), MidiOutputPath::kNoPortText);
        path.SendMidiMessage(0x80, 60, 0);
        path.Pump();
        EXPECT_EQ(path.TakeNotice(), "") << "told once, not once per message";
        path.Rearm();
        path.SendMidiMessage(0x90, 60, 127);
        EXPECT_EQ(path.TakeNotice(), MidiOutputPath::kNoPortText);
    }
    EXPECT_EQ(closed.sends, 0);
}

TEST(MidiOutputPath, AFullPortIsWaitedForWithoutBlockingThenGivenUp)
{
    fake::OutputDevice port = OpenPort();
    MidiOutputPath path(&port);
    port.room = 5; // one message and a bit
    path.SendMidiMessage(0x90, 60, 127);
    path.SendMidiMessage(0x90, 64, 127);
    path.SendMidiMessage(0x90, 67, 127);
    EXPECT_EQ(port.sent.size(), 1u);
    EXPECT_FALSE(port.overran) << "a message went to a port without room for it";
    port.room = 100; // the port drained
    path.Pump();
    EXPECT_EQ(port.sent, (Bytes{{0x90, 60, 127}, {0x90, 64, 127}, {0x90, 67, 127}}));
    EXPECT_EQ(path.TakeNotice(), "");

    // A port that never drains again (its server hangs): the sender goes on,
    // and after the stall limit the messages are dropped and told.
    port.room = 0;
    path.SendMidiMessage(0x80, 60, 0);
    path.Pump();
    EXPECT_EQ(path.TakeNotice(), "");
    std::this_thread::sleep_for(MidiOutputPath::kStallLimit + std::chrono::milliseconds(100));
    path.Pump();
    EXPECT_EQ(path.TakeNotice(), MidiOutputPath::kGoneText);
    port.room = 100;
    path.Pump();
    EXPECT_EQ(port.sent.size(), 3u) << "what was given up is not sent later";
}

TEST(MidiOutputPath, AVanishedPortOrALibraryErrorIsToldWithItsText)
{
    fake::OutputDevice port = OpenPort();
    MidiOutputPath path(&port);
    port.vanished = true;
    path.SendMidiMessage(0x90, 60, 127);
    EXPECT_EQ(path.TakeNotice(), MidiOutputPath::kGoneText);
    EXPECT_EQ(port.sends, 0);

    fake::OutputDevice failing = OpenPort();
    MidiOutputPath path2(&failing);
    failing.sendError = "MidiOutAlsa::sendMessage: error sending MIDI message to port.";
    path2.SendMidiMessage(0x90, 60, 127);
    path2.SendMidiMessage(0x90, 61, 127);
    EXPECT_EQ(path2.TakeNotice(), failing.sendError);
    EXPECT_EQ(path2.TakeNotice(), "");
    EXPECT_EQ(failing.sends, 2) << "a refused message does not stop the next";
}

// What MIDI input plays here: the note events on a real engine, echoing
// through the output path.
struct NotesTarget : MidiTarget, KeyDisplay {
    SynthState& synth;
    NoteEvents notes;
    NotesTarget(SynthState& s, MidiSender& out) : synth(s), notes(s, *this, out) {}
    void SetNoteVelocity(int note, float v) override { synth.SetNoteVelocity(note, v); }
    void NoteOn(int note, bool fromMidi) override { notes.NoteOn(note, fromMidi); }
    void NoteOff(int note, bool fromMidi) override { notes.NoteOff(note, fromMidi); }
    void AllNotesOff(bool fromMidi) override { notes.AllNotesOff(fromMidi); }
    void SetModWheelFromMidi(int) override {}
    void SetPitchWheelFromMidi(int) override {}
    void SetPatchFromMidi(int) override {}
    void ShowKeyDown(int) override {}
    void ShowKeyUp(int) override {}
    void ClearAllKeys() override {}
};

TEST(MidiOutputPath, AllNotesOffFromMidiEchoesTheHeldNotesFromTheGuiThread)
{
    auto synth = std::make_unique<SynthState>();
    fake::OutputDevice port = OpenPort();
    MidiOutputPath path(&port);
    NotesTarget target(*synth, path);
    target.notes.outputEnabled = true;
    target.notes.outputChannel = 3;
    MidiDecoder decoder(target);

    std::thread midi([&] {
        const uint8_t on60[] = {0x90, 60, 100}, on64[] = {0x90, 64, 100}, allOff[] = {0xB0, 123, 0};
        decoder.Decode(on60, 3);
        decoder.Decode(on64, 3);
        decoder.Decode(allOff, 3);
    });
    midi.join();
    EXPECT_FALSE(synth->IsKeyDown(60));
    EXPECT_FALSE(synth->IsKeyDown(64));
    EXPECT_TRUE(port.sent.empty()) << "sent from the MIDI input thread";
    path.Pump();
    // Notes from MIDI are not echoed, nor the All Notes Off itself; the held
    // notes' releases are.
    EXPECT_EQ(port.sent, (Bytes{{0x82, 60, 0}, {0x82, 64, 0}}));
}

} // namespace
