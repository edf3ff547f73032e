// The engine's note frequencies from a tuning table: what a note sounds at
// (measured from the samples), the pitch wheel bending the tuned frequency,
// keys the table silences, and twelve equal steps again after a tuning, bit
// for bit as an engine that never had one.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "synth/Engine.h"
#include "support/EngineTestAccess.h"

namespace {

// Only partial `partial` (1 is the fundamental) at 0.5, in both spectra.
void OnePartial(Engine& e, int partial)
{
    float level[NUM_PARTIALS] = {};
    level[partial - 1] = 0.5f;
    e.Synth().SetSpectra(level, level);
}

std::vector<float> RenderLeft(Engine& e, uint32_t frames)
{
    std::vector<float> left(frames), right(frames);
    e.Render(left.data(), right.data(), frames, nullptr, 0);
    return left;
}

// Cycles per second from the rising zero crossings of one second of samples
// (to within one cycle).
double MeasuredFrequency(const std::vector<float>& samples)
{
    int rising = 0;
    for (size_t i = 1; i < samples.size(); ++i)
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f)
            ++rising;
    return rising;
}

struct Table {
    double frequency[NUM_NOTES];
    bool sounds[NUM_NOTES];
};

// Every key at `base` Hz times 1.01 per key above note 0, all sounding.
Table Stretched(double base)
{
    Table t;
    for (int n = 0; n < NUM_NOTES; ++n) {
        t.frequency[n] = base * std::pow(1.01, n);
        t.sounds[n] = true;
    }
    return t;
}

struct ToneCase {
    int note;
    double frequency; // the key's frequency in the table
    int partial;      // the one partial sounding
};

class TunedTone : public testing::TestWithParam<ToneCase> {};

TEST_P(TunedTone, SoundsAtTheTablesFrequencyTimesThePartial)
{
    const ToneCase c = GetParam();
    Table t = Stretched(100.0);
    t.frequency[c.note] = c.frequency;
    auto engine = std::make_unique<Engine>(EngineOptions{SAMPLE_RATE, false});
    OnePartial(*engine, c.partial);
    engine->SetTuning(t.frequency, t.sounds);
    EXPECT_EQ(engine->Synth().KeyFrequency(c.note), c.frequency);
    engine->Synth().StartNote(c.note);
    const double measured = MeasuredFrequency(RenderLeft(*engine, SAMPLE_RATE));
    EXPECT_NEAR(measured, c.frequency * c.partial, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Keys, TunedTone,
                         testing::Values(ToneCase{60, 300.0, 1}, ToneCase{61, 233.0, 3}, ToneCase{21, 55.5, 7},
                                         ToneCase{100, 1234.5, 2}));

TEST(EngineTuning, ThePitchWheelBendsTheTunedFrequency)
{
    const Table t = Stretched(30.0);
    SynthState s(false);
    s.SetTuning(t.frequency, t.sounds);
    s.SetPitchWheel(8192.0f + 4096.0f); // one semitone up
    SynthStateTestAccess::BeginBuffer(s);
    for (int note : {0, 64, 127})
        EXPECT_NEAR(SynthStateTestAccess::BentFrequency(s, note) / t.frequency[note], std::pow(2.0, 1.0 / 12.0),
                    1e-12)
            << "note " << note;
}

TEST(EngineTuning, AKeyTheTableSilencesNeverSounds)
{
    Table t = Stretched(100.0);
    t.sounds[61] = false;
    t.frequency[62] = 1e6; // above what a key may be: silent too
    auto engine = std::make_unique<Engine>(EngineOptions{SAMPLE_RATE, false});
    engine->SetTuning(t.frequency, t.sounds);
    EXPECT_FALSE(engine->Synth().KeySounds(61));
    EXPECT_FALSE(engine->Synth().KeySounds(62));
    EXPECT_EQ(engine->Synth().KeyFrequency(62), 0.0);
    engine->Synth().StartNote(61);
    engine->Synth().StartNote(62);
    std::vector<float> out = RenderLeft(*engine, 1024);
    for (float v : out)
        ASSERT_EQ(v, 0.0f);
    EXPECT_FALSE(engine->Synth().IsNoteSounding(61));
    EXPECT_FALSE(engine->Synth().IsNoteSounding(62));
    // Its Note Off ends nothing: no release sounds either.
    engine->Synth().ReleaseNote(61);
    out = RenderLeft(*engine, 256);
    EXPECT_FALSE(engine->Synth().IsNoteSounding(61));
    EXPECT_FALSE(engine->Synth().AnyNoteActive());

    // A note sounding on a key that a new tuning silences stops there.
    engine->Synth().StartNote(64);
    RenderLeft(*engine, 256);
    ASSERT_TRUE(engine->Synth().IsNoteSounding(64));
    t.sounds[64] = false;
    engine->SetTuning(t.frequency, t.sounds);
    out = RenderLeft(*engine, 512);
    EXPECT_FALSE(engine->Synth().IsNoteSounding(64));
    for (float v : out)
        ASSERT_EQ(v, 0.0f);
}

TEST(EngineTuning, EqualTuningAgainIsTheUntunedRenderBitForBit)
{
    auto plain = std::make_unique<Engine>(EngineOptions{SAMPLE_RATE, false});
    auto retuned = std::make_unique<Engine>(EngineOptions{SAMPLE_RATE, false});
    const Table t = Stretched(40.0);
    retuned->SetTuning(t.frequency, t.sounds);
    retuned->Synth().StartNote(69);
    const std::vector<float> tuned = RenderLeft(*retuned, 512);
    retuned->Synth().ReleaseNote(69);
    RenderLeft(*retuned, 4096); // the release ends
    ASSERT_FALSE(retuned->Synth().AnyNoteActive());
    retuned->SetEqualTuning();
    EXPECT_FALSE(retuned->Synth().IsTuned());
    EXPECT_EQ(retuned->Synth().KeyFrequency(69), NoteFrequency(69));
    for (Engine* e : {plain.get(), retuned.get()}) {
        OnePartial(*e, 2);
        e->Synth().StartNote(69);
        e->Synth().StartNote(70);
    }
    const std::vector<float> a = RenderLeft(*plain, 2048);
    const std::vector<float> b = RenderLeft(*retuned, 2048);
    ASSERT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
    // ...and the tuning did change the sound while it was there.
    const std::vector<float> untuned = [] {
        auto e = std::make_unique<Engine>(EngineOptions{SAMPLE_RATE, false});
        e->Synth().StartNote(69);
        return RenderLeft(*e, 512);
    }();
    EXPECT_NE(std::memcmp(tuned.data(), untuned.data(), tuned.size() * sizeof(float)), 0);
}

// A buffer that starts while a table is being written (the change count
// odd) keeps the table it had; the next one after the writer is done takes
// the new table whole.
TEST(EngineTuning, ABufferDuringAChangeKeepsTheTableItHad)
{
    const Table a = Stretched(100.0);
    const Table b = Stretched(150.0);
    SynthState s(false);
    s.SetTuning(a.frequency, a.sounds);
    SynthStateTestAccess::BeginBuffer(s);
    EXPECT_EQ(SynthStateTestAccess::BentFrequency(s, 60), a.frequency[60]);
    std::atomic<uint32_t>& changes = SynthStateTestAccess::TuningChanges(s);
    changes.fetch_add(1); // a writer is under way
    s.SetTuning(b.frequency, b.sounds);
    SynthStateTestAccess::BeginBuffer(s);
    for (int note : {0, 60, 127})
        EXPECT_EQ(SynthStateTestAccess::BentFrequency(s, note), a.frequency[note]) << note;
    changes.fetch_add(1); // it is done
    SynthStateTestAccess::BeginBuffer(s);
    for (int note : {0, 60, 127})
        EXPECT_EQ(SynthStateTestAccess::BentFrequency(s, note), b.frequency[note]) << note;
}

} // namespace
