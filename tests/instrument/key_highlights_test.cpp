// The key highlights without a window: changes from another thread replayed
// in order on the GUI thread (here the test's thread), stale key-downs
// dropped, and the shared-key rule.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/KeyHighlights.h"
#include "synth/SynthState.h"

namespace {

struct Lights : KeyLights {
    bool lit[NUM_OCTAVES][KEYS_PER_OCTAVE] = {};
    std::vector<std::string> calls;
    void SetKeyLit(int octave, int key, bool on) override
    {
        lit[octave][key] = on;
        calls.push_back((on ? "lit " : "dark ") + std::to_string(octave) + "/" + std::to_string(key));
    }
    void ClearKeys() override
    {
        for (auto& o : lit)
            for (bool& k : o)
                k = false;
        calls.push_back("clear");
    }
    bool Lit(int note) const { return lit[OctaveOfNote(note)][KeyOfNote(note)]; }
};

class KeyHighlightsTest : public testing::Test {
protected:
    std::unique_ptr<SynthState> synth = std::make_unique<SynthState>();
    Lights lights;
    // The calls posted to the GUI thread, run when the test says so.
    std::vector<std::function<void()>> posted;
    KeyHighlights highlights{*synth, lights, [this](std::function<void()> f) { posted.push_back(std::move(f)); }};

    // Runs `what` on another thread, as MIDI input would.
    static void OffThread(const std::function<void()>& what) { std::thread(what).join(); }
    void RunPosted()
    {
        auto calls = std::move(posted);
        posted.clear();
        for (auto& f : calls)
            f();
    }
    // A note started as NoteEvents does: the table first, then the display.
    void Start(int note)
    {
        synth->StartNote(note);
        highlights.ShowKeyDown(note);
    }
    void Release(int note)
    {
        synth->ReleaseNote(note);
        highlights.ShowKeyUp(note);
    }
};

TEST_F(KeyHighlightsTest, OnTheGuiThreadAChangeShowsAtOnce)
{
    Start(60);
    EXPECT_TRUE(lights.Lit(60));
    EXPECT_TRUE(posted.empty());
    Release(60);
    EXPECT_FALSE(lights.Lit(60));
}

TEST_F(KeyHighlightsTest, ChangesFromAnotherThreadWaitAndArriveInOrder)
{
    OffThread([this] {
        Start(62);
        Start(64);
        Release(64);
        Start(65);
    });
    EXPECT_TRUE(lights.calls.empty()) << "a window was touched from another thread";
    ASSERT_EQ(posted.size(), 1u) << "one replay posted for a burst of changes";
    RunPosted();
    // Note 64 had ended before its key-down arrived: only its key-up shows.
    EXPECT_EQ(lights.calls, (std::vector<std::string>{"lit 3/2", "dark 3/4", "lit 3/5"}));
    // Later changes post a new replay.
    OffThread([this] { Release(62); });
    ASSERT_EQ(posted.size(), 1u);
    RunPosted();
    EXPECT_FALSE(lights.Lit(62));
    EXPECT_TRUE(lights.Lit(65));
}

TEST_F(KeyHighlightsTest, AChangeOnTheGuiThreadComesAfterWhatWasQueuedBeforeIt)
{
    OffThread([this] { Start(62); });
    // The GUI thread releases every note before the replay ran.
    synth->ReleaseNote(62);
    highlights.ClearAllKeys();
    RunPosted();
    EXPECT_FALSE(lights.Lit(62)) << "a note lit from another thread stayed lit after the clear";

    // MIDI input plays and ends note 64; then the mouse plays it.
    OffThread([this] {
        Start(64);
        Release(64);
    });
    Start(64);
    RunPosted();
    EXPECT_TRUE(lights.Lit(64)) << "an old key-up put out a note that sounds";
}

TEST_F(KeyHighlightsTest, AQueuedKeyDownOfANoteNoLongerHeldIsDropped)
{
    OffThread([this] {
        Start(62);
        Start(67);
    });
    synth->ReleaseNote(62); // released without a display call of its own
    RunPosted();
    EXPECT_FALSE(lights.Lit(62));
    EXPECT_TRUE(lights.Lit(67));
}

TEST_F(KeyHighlightsTest, ReleasingANoteClearsItsKeyWhileAnotherNoteOnItStillSounds)
{
    Start(12);
    Start(24);
    Release(12);
    EXPECT_FALSE(lights.Lit(24)) << "notes 12 and 24 share a key; the release clears it";
    EXPECT_TRUE(synth->IsKeyDown(24));
}

TEST_F(KeyHighlightsTest, AFullQueueEndsWithEveryHeldNoteLit)
{
    OffThread([this] {
        for (int i = 0; i < KeyHighlights::kQueueSize + 10; ++i) {
            const int note = 40 + i % 30;
            if (synth->IsKeyDown(note))
                Release(note);
            else
                Start(note);
        }
    });
    RunPosted();
    for (int note = 40; note < 70; ++note)
        EXPECT_EQ(lights.Lit(note), synth->IsKeyDown(note)) << note;
}

} // namespace

namespace {

// MIDI input's notes reach the note table a buffer after their keys are
// shown: a queued key-down of a note MIDI holds is lit though the table does
// not hold it yet; one MIDI has released again stays dark.
TEST(KeyHighlightsMidi, AKeyDownOfANoteOnItsWayToTheNoteTableIsLit)
{
    auto synth = std::make_unique<SynthState>();
    Lights lights;
    HeldKeys midiKeys;
    std::vector<std::function<void()>> posted;
    KeyHighlights highlights{*synth, lights, [&](std::function<void()> f) { posted.push_back(std::move(f)); },
                             &midiKeys};
    std::thread([&] {
        midiKeys.Set(60);
        highlights.ShowKeyDown(60);
        midiKeys.Set(64);
        highlights.ShowKeyDown(64);
        midiKeys.Reset(64); // released before the GUI thread looked
    }).join();
    highlights.Replay();
    EXPECT_TRUE(lights.Lit(60)) << "the note MIDI holds is not shown until the note table plays it";
    EXPECT_FALSE(lights.Lit(64));
    EXPECT_FALSE(synth->IsKeyDown(60));
}

} // namespace
