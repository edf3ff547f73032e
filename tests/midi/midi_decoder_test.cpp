// MIDI input decoding from tables of bytes: what each message does to the
// instrument, in which order, and what it marks for the display.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/MidiDecoder.h"

namespace {

struct Calls : MidiTarget {
    std::vector<std::string> log;
    void SetNoteVelocity(int note, float v) override
    {
        log.push_back("velocity " + std::to_string(note) + " " + std::to_string(static_cast<int>(v * 127.0f + 0.5f)));
        lastVelocity = v;
    }
    void NoteOn(int note, bool fromMidi) override { log.push_back("on " + std::to_string(note) + Midi(fromMidi)); }
    void NoteOff(int note, bool fromMidi) override { log.push_back("off " + std::to_string(note) + Midi(fromMidi)); }
    void AllNotesOff(bool fromMidi) override { log.push_back("all off" + Midi(fromMidi)); }
    void SetModWheelFromMidi(int v) override { log.push_back("mod " + std::to_string(v)); }
    void SetPitchWheelFromMidi(int v) override { log.push_back("pitch " + std::to_string(v)); }
    void SetPatchFromMidi(int p) override { log.push_back("patch " + std::to_string(p)); }
    static std::string Midi(bool fromMidi) { return fromMidi ? "" : " (not from MIDI!)"; }
    float lastVelocity = -1;
};

using Log = std::vector<std::string>;

struct Case {
    const char* what;
    int channel;
    std::vector<uint8_t> bytes;
    Log expected;
    uint32_t marks;
};

TEST(MidiDecoder, ActsOnlyOnTheInputChannelsMessages)
{
    const uint32_t kMod = MidiDisplayChanges::kModWheel, kPitch = MidiDisplayChanges::kPitchWheel,
                   kPatch = MidiDisplayChanges::kPatch;
    const Case cases[] = {
        {"note on: velocity first", 1, {0x90, 60, 100}, {"velocity 60 100", "on 60"}, 0},
        {"note on, loudest", 1, {0x90, 127, 127}, {"velocity 127 127", "on 127"}, 0},
        {"note on velocity 0 is a note off", 1, {0x90, 60, 0}, {"off 60"}, 0},
        {"note off ignores its velocity", 1, {0x80, 60, 64}, {"off 60"}, 0},
        {"note on, other channel", 2, {0x90, 60, 100}, {}, 0},
        {"note on, channel 5", 5, {0x94, 60, 100}, {"velocity 60 100", "on 60"}, 0},
        {"channel 16", 16, {0x8F, 61, 0}, {"off 61"}, 0},
        {"channel 1's note on heard on 16", 16, {0x90, 61, 9}, {}, 0},
        {"all notes off", 1, {0xB0, 123, 0}, {"all off"}, 0},
        {"all notes off with value 1", 1, {0xB0, 123, 1}, {}, 0},
        {"volume controller", 1, {0xB0, 7, 100}, {}, 0},
        {"mod wheel fine controller", 1, {0xB0, 33, 100}, {}, 0},
        {"mod wheel", 1, {0xB0, 1, 64}, {"mod 8192"}, kMod},
        {"mod wheel top", 1, {0xB0, 1, 127}, {"mod 16256"}, kMod},
        {"mod wheel bottom", 1, {0xB0, 1, 0}, {"mod 0"}, kMod},
        {"pitch bend centre", 1, {0xE0, 0, 64}, {"pitch 8192"}, kPitch},
        {"pitch bend top: coarse bits only", 1, {0xE0, 127, 127}, {"pitch 16256"}, kPitch},
        {"pitch bend bottom", 1, {0xE0, 127, 0}, {"pitch 0"}, kPitch},
        {"program 0 shows patch 1", 1, {0xC0, 0}, {"patch 1"}, kPatch},
        {"program 127 shows patch 128", 1, {0xC0, 127}, {"patch 128"}, kPatch},
        {"program change, other channel", 1, {0xC3, 5}, {}, 0},
        {"polyphonic pressure", 1, {0xA0, 60, 100}, {}, 0},
        {"channel pressure", 1, {0xD0, 100}, {}, 0},
        {"timing clock", 1, {0xF8}, {}, 0},
        {"active sensing", 1, {0xFE}, {}, 0},
        {"system reset", 1, {0xFF}, {}, 0},
        {"song position", 1, {0xF2, 0, 64}, {}, 0},
        {"empty message", 1, {}, {}, 0},
        {"five bytes", 1, {0x90, 60, 100, 1, 2}, {}, 0},
        {"four bytes: the fourth is not used", 1, {0x90, 60, 100, 99}, {"velocity 60 100", "on 60"}, 0},
        {"a lone note on status is note 0 velocity 0", 1, {0x90}, {"off 0"}, 0},
        {"two-byte note on: velocity 0", 1, {0x90, 62}, {"off 62"}, 0},
        {"a data byte above 127 names no note", 1, {0x90, 200, 100}, {}, 0},
        {"nor a wheel position", 1, {0xE0, 0, 200}, {}, 0},
        {"running status (a data byte first)", 1, {60, 100}, {}, 0},
    };
    for (const Case& c : cases) {
        Calls calls;
        MidiDisplayChanges display;
        MidiDecoder decoder(calls, &display);
        decoder.inputChannel = c.channel;
        decoder.Decode(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(calls.log, c.expected) << c.what;
        EXPECT_EQ(display.Take(), c.marks) << c.what;
    }
}

TEST(MidiDecoder, VelocityIsTheDataByteOver127)
{
    for (int v : {1, 64, 100, 127}) {
        Calls calls;
        MidiDecoder decoder(calls);
        const uint8_t m[] = {0x90, 60, static_cast<uint8_t>(v)};
        decoder.Decode(m, 3);
        EXPECT_EQ(calls.lastVelocity, static_cast<float>(v) / 127.0f) << v;
    }
}

TEST(MidiDecoder, ChannelChangeTakesEffectForTheNextMessage)
{
    Calls calls;
    MidiDecoder decoder(calls);
    const uint8_t on5[] = {0x94, 60, 100}, on1[] = {0x90, 62, 100};
    decoder.Decode(on5, 3);
    decoder.inputChannel = 5;
    decoder.Decode(on5, 3);
    decoder.Decode(on1, 3);
    EXPECT_EQ(calls.log, (Log{"velocity 60 100", "on 60"}));
}

TEST(MidiDecoder, ABurstLeavesOneDisplayUpdatePerKindOfChange)
{
    Calls calls;
    MidiDisplayChanges display;
    MidiDecoder decoder(calls, &display);
    for (int i = 0; i < 100000; ++i) {
        const uint8_t bend[] = {0xE0, 0, static_cast<uint8_t>(i % 128)};
        decoder.Decode(bend, 3);
    }
    EXPECT_EQ(display.Take(), MidiDisplayChanges::kPitchWheel);
    EXPECT_EQ(display.Take(), 0u) << "taken once, the change is gone";
    EXPECT_EQ(calls.log.back(), "pitch " + std::to_string((99999 % 128) * 128)) << "the latest value wins";
}

// The sustain pedal over sequences of messages: which releases it holds back,
// and when they come.
TEST(MidiDecoder, SustainPedalHoldsReleasesUntilItComesUp)
{
    using Msgs = std::vector<std::vector<uint8_t>>;
    struct PedalCase {
        const char* what;
        Msgs messages;
        Log expected; // the log after the last message, velocities left out
    };
    const PedalCase cases[] = {
        {"released under the pedal: off when it comes up",
         {{0xB0, 64, 127}, {0x90, 60, 100}, {0x80, 60, 0}, {0xB0, 64, 0}},
         {"on 60", "off 60"}},
        {"nothing released before the pedal comes up",
         {{0xB0, 64, 127}, {0x90, 60, 100}, {0x80, 60, 0}},
         {"on 60"}},
        {"64 is down, 63 is up",
         {{0xB0, 64, 64}, {0x90, 60, 100}, {0x90, 60, 0}, {0xB0, 64, 64}, {0xB0, 64, 63}},
         {"on 60", "off 60"}},
        {"63 is not down",
         {{0xB0, 64, 63}, {0x90, 60, 100}, {0x80, 60, 0}},
         {"on 60", "off 60"}},
        {"several notes released together, in note order",
         {{0x90, 67, 100}, {0x90, 60, 100}, {0xB0, 64, 100}, {0x80, 67, 0}, {0x80, 60, 0}, {0xB0, 64, 0}},
         {"on 67", "on 60", "off 60", "off 67"}},
        {"a key still down is not released by the pedal",
         {{0xB0, 64, 127}, {0x90, 60, 100}, {0x90, 62, 100}, {0x80, 60, 0}, {0xB0, 64, 0}},
         {"on 60", "on 62", "off 60"}},
        {"re-struck while sustained: restarts, its key holds it",
         {{0xB0, 64, 127}, {0x90, 60, 100}, {0x80, 60, 0}, {0x90, 60, 90}, {0xB0, 64, 0}},
         {"on 60", "off 60", "on 60"}},
        {"re-struck and released again: the pedal still ends it",
         {{0xB0, 64, 127}, {0x90, 60, 100}, {0x80, 60, 0}, {0x90, 60, 90}, {0x80, 60, 0}, {0xB0, 64, 0}},
         {"on 60", "off 60", "on 60", "off 60"}},
        {"pressed after the release: released once, not twice",
         {{0x90, 60, 100}, {0xB0, 64, 127}, {0x80, 60, 0}, {0xB0, 64, 0}, {0xB0, 64, 0}},
         {"on 60", "off 60"}},
        {"all-notes-off lifts the pedal",
         {{0xB0, 64, 127}, {0x90, 60, 100}, {0x80, 60, 0}, {0xB0, 123, 0}, {0x90, 62, 100}, {0x80, 62, 0},
          {0xB0, 64, 0}},
         {"on 60", "all off", "on 62", "off 62"}},
        {"the pedal of another channel holds nothing",
         {{0xB1, 64, 127}, {0x90, 60, 100}, {0x80, 60, 0}},
         {"on 60", "off 60"}},
        {"a pedal value above 127 is no MIDI",
         {{0xB0, 64, 200}, {0x90, 60, 100}, {0x80, 60, 0}},
         {"on 60", "off 60"}},
    };
    for (const PedalCase& c : cases) {
        Calls calls;
        MidiDisplayChanges display;
        MidiDecoder decoder(calls, &display);
        for (const auto& m : c.messages)
            decoder.Decode(m.data(), m.size());
        Log log;
        for (const std::string& line : calls.log)
            if (line.rfind("velocity", 0) != 0)
                log.push_back(line);
        EXPECT_EQ(log, c.expected) << c.what;
        EXPECT_EQ(display.Take(), 0u) << c.what;
    }
}

TEST(MidiDecoder, LiftingThePedalForgetsTheNotesItHeld)
{
    // As Panic does: it silences every note itself, and the pedal is up after.
    Calls calls;
    MidiDecoder decoder(calls);
    const uint8_t down[] = {0xB0, 64, 127}, up[] = {0xB0, 64, 0}, on[] = {0x90, 60, 100}, off[] = {0x80, 60, 0},
                  on2[] = {0x90, 62, 100}, off2[] = {0x80, 62, 0};
    decoder.Decode(down, 3);
    decoder.Decode(on, 3);
    decoder.Decode(off, 3);
    decoder.LiftPedal();
    decoder.Decode(on2, 3);
    decoder.Decode(off2, 3);
    decoder.Decode(up, 3);
    EXPECT_EQ(calls.log, (Log{"velocity 60 100", "on 60", "velocity 62 100", "on 62", "off 62"}));
}

} // namespace
