// The note events: retrigger and release rules, the key display and the MIDI
// echo, with a recording display and MIDI sink in place of the window.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "midi/NoteEvents.h"
#include "synth/SynthState.h"
#include "support/EngineTestAccess.h"

namespace {

// The render's steps and rows (tests/support/EngineTestAccess.h).
using Access = SynthStateTestAccess;

struct Recorder : KeyDisplay, MidiSender {
    std::vector<std::string> display;
    std::vector<std::vector<int>> sent;
    bool lit[NUM_OCTAVES][KEYS_PER_OCTAVE] = {};

    void ShowKeyDown(int note) override
    {
        lit[OctaveOfNote(note)][KeyOfNote(note)] = true;
        display.push_back("down " + std::to_string(OctaveOfNote(note)) + "/" + std::to_string(KeyOfNote(note)));
    }
    void ShowKeyUp(int note) override
    {
        lit[OctaveOfNote(note)][KeyOfNote(note)] = false;
        display.push_back("up " + std::to_string(OctaveOfNote(note)) + "/" + std::to_string(KeyOfNote(note)));
    }
    void ClearAllKeys() override
    {
        for (auto& o : lit)
            for (bool& k : o)
                k = false;
        display.push_back("clear");
    }
    void SendMidiMessage(uint8_t s, uint8_t d1, uint8_t d2) override { sent.push_back({s, d1, d2}); }
};

class NoteEventsTest : public testing::Test {
protected:
    std::unique_ptr<SynthState> synth = std::make_unique<SynthState>();
    Recorder rec;
    NoteEvents notes{*synth, rec, rec};
    float buffer[2 * MAX_FRAMES];

    void RenderOneBuffer() { Access::RenderBuffer(*synth, buffer, MAX_FRAMES); }
    void EnableOutput(int channel)
    {
        notes.outputEnabled = true;
        notes.outputChannel = channel;
    }
};

TEST(OctaveOfNote, EveryNoteHasOneControlAndKey)
{
    struct Case {
        int note, octave, key;
    } cases[] = {
        {0, 0, 0},   {12, 0, 0},  {23, 0, 11}, {24, 0, 0},  {35, 0, 11}, {36, 1, 0},
        {47, 1, 11}, {60, 3, 0},  {61, 3, 1},  {95, 5, 11}, {96, 6, 0},  {107, 6, 11},
        {108, 6, 0}, {120, 6, 0}, {127, 6, 7},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OctaveOfNote(c.note), c.octave) << "note " << c.note;
        EXPECT_EQ(KeyOfNote(c.note), c.key) << "note " << c.note;
    }
}

TEST_F(NoteEventsTest, NoteOnStartsLightsAndEchoesOnTheOutputChannel)
{
    EnableOutput(3);
    notes.NoteOn(60, false);
    EXPECT_TRUE(synth->IsKeyDown(60));
    EXPECT_TRUE(rec.lit[3][0]);
    ASSERT_EQ(rec.sent.size(), 1u);
    EXPECT_EQ(rec.sent[0], (std::vector<int>{0x92, 60, 127}));
    RenderOneBuffer();
    EXPECT_TRUE(synth->IsNoteHeld(60));
}

TEST_F(NoteEventsTest, NoteOnForAHeldNoteChangesNothingAndSendsNothing)
{
    EnableOutput(1);
    notes.NoteOn(60, false);
    RenderOneBuffer();
    RenderOneBuffer();
    const uint32_t samples = Access::NoteSamples(*synth)[60];
    rec.display.clear();
    rec.sent.clear();
    // Also before the render has taken the first one up.
    notes.NoteOn(60, false);
    notes.NoteOn(60, true);
    EXPECT_TRUE(rec.display.empty());
    EXPECT_TRUE(rec.sent.empty());
    RenderOneBuffer();
    EXPECT_EQ(Access::NoteSamples(*synth)[60], samples + MAX_FRAMES) << "no restart";

    notes.NoteOn(64, false);
    notes.NoteOn(64, false); // still pending in the render
    EXPECT_EQ(rec.sent.size(), 1u);
}

TEST_F(NoteEventsTest, NoteOnForAReleasingNoteRestartsItAndLightsItAgain)
{
    notes.NoteOn(60, false);
    for (int i = 0; i < 4; ++i)
        RenderOneBuffer();
    notes.NoteOff(60, false);
    RenderOneBuffer();
    ASSERT_TRUE(synth->IsNoteReleasing(60));
    EXPECT_FALSE(rec.lit[3][0]);

    notes.NoteOn(60, false);
    EXPECT_TRUE(rec.lit[3][0]);
    RenderOneBuffer();
    EXPECT_TRUE(synth->IsNoteHeld(60));
    EXPECT_FALSE(synth->IsNoteReleasing(60));
    EXPECT_EQ(Access::NoteSamples(*synth)[60], static_cast<uint32_t>(MAX_FRAMES)) << "started again from time 0";
}

TEST_F(NoteEventsTest, NoteOffUnlightsAndEchoesWhateverTheStateAndReleasesOnlyAHeldNote)
{
    EnableOutput(16);
    notes.NoteOff(70, false); // a silent note
    EXPECT_FALSE(synth->IsKeyDown(70));
    ASSERT_EQ(rec.sent.size(), 1u);
    EXPECT_EQ(rec.sent[0], (std::vector<int>{0x8F, 70, 0}));
    EXPECT_EQ(rec.display.back(), "up 3/10");
    RenderOneBuffer();
    EXPECT_FALSE(synth->IsNoteSounding(70)) << "a Note Off sounded a note that was not held";
    notes.NoteOn(70, false);
    RenderOneBuffer();
    notes.NoteOff(70, false);
    RenderOneBuffer();
    EXPECT_TRUE(synth->IsNoteReleasing(70));
}

TEST_F(NoteEventsTest, NotesFromMidiAreNotEchoed)
{
    EnableOutput(1);
    notes.NoteOn(60, true);
    notes.NoteOff(60, true);
    EXPECT_TRUE(rec.sent.empty());
    EXPECT_EQ(rec.display, (std::vector<std::string>{"down 3/0", "up 3/0"}));
}

TEST_F(NoteEventsTest, WithOutputDisabledNothingIsEverSent)
{
    notes.NoteOn(60, false);
    notes.NoteOn(61, true);
    notes.NoteOff(60, false);
    notes.AllNotesOff(false);
    notes.AllNotesOff(true);
    EXPECT_TRUE(rec.sent.empty());
}

TEST_F(NoteEventsTest, AllNotesOffWithNothingHeldStillClearsAndSendsAllNotesOff)
{
    EnableOutput(2);
    notes.AllNotesOff(false);
    EXPECT_EQ(rec.display, (std::vector<std::string>{"clear"}));
    ASSERT_EQ(rec.sent.size(), 1u);
    EXPECT_EQ(rec.sent[0], (std::vector<int>{0xB1, 123, 0}));
}

TEST_F(NoteEventsTest, AllNotesOffFromMidiEchoesEachNoteOffButNoControlChange)
{
    EnableOutput(1);
    notes.NoteOn(64, true);
    notes.NoteOn(60, true);
    RenderOneBuffer();
    notes.AllNotesOff(true);
    ASSERT_EQ(rec.sent.size(), 2u);
    EXPECT_EQ(rec.sent[0], (std::vector<int>{0x80, 60, 0}));
    EXPECT_EQ(rec.sent[1], (std::vector<int>{0x80, 64, 0}));
    EXPECT_FALSE(synth->IsKeyDown(60));
    EXPECT_FALSE(synth->IsKeyDown(64));
}

TEST_F(NoteEventsTest, AllNotesOffLeavesReleasingNotesToFinish)
{
    // A release long enough that note 72 is still in it at AllNotesOff.
    synth->SetParameter(ParamId::Release, 1000);
    notes.NoteOn(60, false);
    notes.NoteOn(72, false);
    RenderOneBuffer();
    notes.NoteOff(72, false);
    RenderOneBuffer();
    RenderOneBuffer();
    ASSERT_TRUE(synth->IsNoteReleasing(72));
    const uint32_t release = Access::ReleaseSamples(*synth)[72];
    ASSERT_EQ(release, 2u * MAX_FRAMES);
    notes.AllNotesOff(false);
    RenderOneBuffer();
    EXPECT_TRUE(synth->IsNoteReleasing(60));
    EXPECT_EQ(Access::ReleaseSamples(*synth)[60], static_cast<uint32_t>(MAX_FRAMES));
    // Note 72 goes on with its release instead of starting it again.
    EXPECT_TRUE(synth->IsNoteReleasing(72));
    EXPECT_EQ(Access::ReleaseSamples(*synth)[72], release + MAX_FRAMES);
}

TEST_F(NoteEventsTest, NotesAnOctaveApartShareAKeyBelowTheKeyboard)
{
    notes.NoteOn(12, false);
    notes.NoteOn(24, false);
    EXPECT_TRUE(rec.lit[0][0]);
    notes.NoteOff(12, false);
    EXPECT_FALSE(rec.lit[0][0]) << "the shared key goes dark";
    EXPECT_TRUE(synth->IsKeyDown(24)) << "while note 24 still sounds";
    notes.NoteOn(120, false);
    EXPECT_TRUE(rec.lit[6][0]);
}

} // namespace
