// The undo history of the sound, on the instrument without a window: every
// kind of step undone and redone against the sound before and after it, the
// depth of the history, and what makes no step.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "controls/SpectrumMath.h"
#include "app/Instrument.h"
#include "patch/Patch.h"
#include "support/EngineTestAccess.h"

namespace {

struct CountingDisplay : NoDisplay {
    int soundsShown = 0;
    void ShowSound() override { ++soundsShown; }
};

class UndoTest : public testing::Test {
protected:
    CountingDisplay display;
    std::unique_ptr<Instrument> instrument = std::make_unique<Instrument>(display, display);
    SynthState& Synth() { return instrument->Synth(); }
    Sound Now() { return Synth().CurrentSound(); }

    // What the window's editor does on every change: both spectra to the state.
    void SetSustain(const HarmonicSpectrum& s) { Synth().SetSpectra(nullptr, s.level); }
    void SetAttack(const HarmonicSpectrum& s) { Synth().SetSpectra(s.level, nullptr); }
};

// Describes where two sounds differ, for the failure message.
std::string Difference(const Sound& a, const Sound& b)
{
    std::string d;
    if (a.attackMs != b.attackMs || a.decayMs != b.decayMs || a.sustainPercent != b.sustainPercent ||
        a.releaseMs != b.releaseMs)
        d += " envelope";
    if (a.lfoFrequency != b.lfoFrequency || a.lfoWaveform != b.lfoWaveform)
        d += " lfo";
    if (a.volumeDb != b.volumeDb)
        d += " volume";
    if (a.bandLimit != b.bandLimit)
        d += " band limit";
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        if (a.attack.level[h] != b.attack.level[h])
            d += " attack[" + std::to_string(h) + "]";
        if (a.sustain.level[h] != b.sustain.level[h])
            d += " sustain[" + std::to_string(h) + "]";
    }
    return d.empty() ? " (bits only)" : d;
}

#define EXPECT_SAME_SOUND(a, b) EXPECT_TRUE(SameSound(a, b)) << "differs in" << Difference(a, b)

// Each kind of step as the window makes it, committed where the window
// commits: undone one by one from the last, each gives back the sound before
// it; redone one by one, each gives back the sound after it.
TEST_F(UndoTest, EveryKindOfStepIsUndoneAndRedone)
{
    char patchPath[] = "/tmp/marovane-undo-XXXXXX";
    const int fd = mkstemp(patchPath);
    ASSERT_GE(fd, 0);
    close(fd);
    Patch bell;
    bell.attackMs = 5;
    bell.decayMs = 900;
    bell.sustainPercent = 20;
    bell.releaseMs = 700;
    bell.lfoFrequency = 3.5f;
    bell.lfoWaveform = 2;
    bell.volumeDb = -9.5f;
    for (int h = 0; h < 16; ++h) {
        bell.attack.level[h] = 0.3f / static_cast<float>(h + 1);
        bell.sustain.level[h] = h % 2 ? 0.0f : 0.1f;
    }
    ASSERT_EQ(WritePatchFile(patchPath, bell), "");

    struct Step {
        const char* name;
        std::function<void()> run;
    };
    const std::vector<Step> steps = {
        {"a stroke in the editor",
         [&] {
             // One change per bar the pointer crosses, then the button-up.
             HarmonicSpectrum s = Synth().Sustain();
             for (int bar = 3; bar < 12; ++bar) {
                 s.level[bar] = 0.02f * static_cast<float>(bar);
                 SetSustain(s);
             }
             instrument->CommitSound();
         }},
        {"Generate",
         [&] {
             HarmonicSpectrum s = WaveformSpectrum(1);
             NormalizeLevels(s.level, 2);
             SetSustain(s);
             instrument->CommitSound();
         }},
        {"copy sustain to attack",
         [&] {
             SetAttack(Synth().Sustain());
             instrument->CommitSound();
         }},
        {"Normalize",
         [&] {
             HarmonicSpectrum s = Synth().Sustain();
             NormalizeLevels(s.level, 5);
             SetSustain(s);
             instrument->CommitSound();
         }},
        {"Clear",
         [&] {
             SetSustain(HarmonicSpectrum{});
             instrument->CommitSound();
         }},
        {"copy attack to sustain",
         [&] {
             SetSustain(Synth().Attack());
             instrument->CommitSound();
         }},
        {"an attack slider drag",
         [&] {
             for (int ms : {40, 180, 333})
                 Synth().SetParameter(ParamId::Attack, ms);
             instrument->CommitSound();
         }},
        {"an LFO frequency slider drag",
         [&] {
             for (float hz : {6.1f, 9.9f, 12.3f})
                 Synth().SetParameter(ParamId::LfoFrequency, hz);
             instrument->CommitSound();
         }},
        {"the LFO shape",
         [&] {
             Synth().SetLfoWaveform(4);
             instrument->CommitSound();
         }},
        {"a volume slider drag",
         [&] {
             for (float dB : {-3.0f, -12.5f, 4.2f})
                 Synth().SetParameter(ParamId::Volume, dB);
             instrument->CommitSound();
         }},
        {"the band limit switched on",
         [&] {
             Synth().SetParameter(ParamId::BandLimit, 1.0f);
             instrument->CommitSound();
         }},
        {"a patch load", [&] { ASSERT_TRUE(instrument->LoadPatch(patchPath).Loaded()); }},
        {"a release slider drag",
         [&] {
             Synth().SetParameter(ParamId::Release, 250);
             instrument->CommitSound();
         }},
    };

    std::vector<Sound> before, after;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        before.push_back(Now());
        const size_t depth = instrument->History().UndoSteps();
        step.run();
        after.push_back(Now());
        EXPECT_FALSE(SameSound(before.back(), after.back())) << "the step changed nothing";
        EXPECT_EQ(instrument->History().UndoSteps(), depth + 1) << "not exactly one step";
    }
    std::remove(patchPath);

    for (size_t i = steps.size(); i-- > 0;) {
        SCOPED_TRACE(std::string("undo ") + steps[i].name);
        const int shown = display.soundsShown;
        ASSERT_TRUE(instrument->Undo());
        EXPECT_SAME_SOUND(Now(), before[i]);
        EXPECT_EQ(display.soundsShown, shown + 1) << "the controls were not told";
    }
    EXPECT_FALSE(instrument->Undo()) << "undid beyond the first step";
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(std::string("redo ") + steps[i].name);
        ASSERT_TRUE(instrument->Redo());
        EXPECT_SAME_SOUND(Now(), after[i]);
    }
    EXPECT_FALSE(instrument->Redo()) << "redid beyond the last step";

    // The render plays what was restored from its next buffer on.
    float out[2 * MAX_FRAMES];
    SynthStateTestAccess::Render(Synth(), out, MAX_FRAMES);
    EXPECT_EQ(SynthStateTestAccess::Snapshot(Synth()).releaseMs, 250);
    EXPECT_EQ(SynthStateTestAccess::Snapshot(Synth()).lfoWaveform, bell.lfoWaveform);
    EXPECT_EQ(SynthStateTestAccess::Snapshot(Synth()).sustain[0], bell.sustain.level[0]);
}

TEST_F(UndoTest, KeepsTheLastStepsAndForgetsOlderOnes)
{
    const int extra = 50;
    const int total = static_cast<int>(UndoHistory::kHistorySteps) + extra;
    ASSERT_GE(UndoHistory::kHistorySteps, 100u);
    for (int ms = 1; ms <= total; ++ms) {
        Synth().SetParameter(ParamId::Attack, ms);
        instrument->CommitSound();
    }
    int undone = 0;
    while (instrument->Undo())
        ++undone;
    EXPECT_EQ(undone, static_cast<int>(UndoHistory::kHistorySteps));
    EXPECT_EQ(Synth().attackMs, extra) << "the oldest steps kept are the latest ones";
}

// What makes no step, and what the history does with changes on either side
// of an undo.
TEST_F(UndoTest, StepsThatChangeNothingAndChangesBetweenUndos)
{
    const Sound start = Now();
    // A click that left the sound as it was.
    instrument->CommitSound();
    EXPECT_EQ(instrument->History().UndoSteps(), 0u);
    EXPECT_FALSE(instrument->Undo());

    // A step after an undo leaves nothing to redo.
    Synth().SetParameter(ParamId::Decay, 100);
    instrument->CommitSound();
    ASSERT_TRUE(instrument->Undo());
    Synth().SetParameter(ParamId::Sustain, 40);
    instrument->CommitSound();
    EXPECT_FALSE(instrument->Redo());
    EXPECT_EQ(Synth().decayMs, 0);

    // A change not yet committed (a stroke still under way) is undone as a
    // step of its own, back to the last committed sound...
    const Sound committed = Now();
    HarmonicSpectrum s = Synth().Sustain();
    s.level[7] = 0.3f;
    SetSustain(s);
    ASSERT_TRUE(instrument->Undo());
    EXPECT_SAME_SOUND(Now(), committed);
    // ...and redo brings it back.
    ASSERT_TRUE(instrument->Redo());
    EXPECT_EQ(Synth().SustainLevel(7), 0.3f);

    // The wheels are no part of the sound: undo leaves them where they are.
    instrument->MoveModWheel(9000.0f);
    instrument->MovePitchWheel(100.0f);
    ASSERT_TRUE(instrument->Undo());
    ASSERT_TRUE(instrument->Undo());
    EXPECT_SAME_SOUND(Now(), start);
    EXPECT_EQ(Synth().modWheelDepth, SynthState::ModWheelDepthFromValue(9000));
    EXPECT_EQ(Synth().pitchWheel, 100.0f);
}

} // namespace
