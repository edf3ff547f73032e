// The engine without a stream: wave tables, note frequencies, the envelope,
// the spectrum morph and the reference render, driven buffer by buffer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

#include "synth/SynthState.h"
#include "support/EngineTestAccess.h"

namespace {

// The render's steps and rows (tests/support/EngineTestAccess.h).
using Access = SynthStateTestAccess;

constexpr double kPi = 3.14159265358979323846;

struct TableCase {
    int shape;
    int position;
    float expected;
    float tolerance;
};

TEST(WaveTable, ShapesAtTellingPositions)
{
    const WaveTable table;
    const TableCase cases[] = {
        {0, 0, 0.0f, 0.0f},         {0, 8192, 1.0f, 0.0f},        {0, 24576, -1.0f, 0.0f},
        {4, 8192, 1.0f, 0.0f},      {4, 24576, 1.0f, 0.0f},       {1, 16383, 1.0f, 0.0f},
        {1, 16384, 0.0f, 0.0f},     {2, 0, 0.0f, 0.0f},           {2, 31129, 0.99998f, 1e-5f},
        {2, 31130, 0.99976f, 1e-5f}, {2, 32767, 0.00037f, 1e-5f}, {3, 0, -1.0f, 0.0f},
        {3, 16383, 0.99988f, 1e-5f}, {3, 16384, 1.0f, 0.0f},      {3, 32767, -0.99988f, 1e-5f},
        {5, 8191, 1.0f, 0.0f},      {5, 8192, 0.0f, 0.0f},        {6, 0, 0.0f, 0.0f},
        {6, 10922, 1.0f, 0.0f},     {6, 21844, 1.0f, 0.0f},       {6, 21845, -0.00003f, 1e-5f},
        {6, 32767, 0.99991f, 1e-5f},
    };
    for (const TableCase& c : cases)
        EXPECT_NEAR(table.At(c.shape, c.position), c.expected, c.tolerance)
            << "shape " << c.shape << " position " << c.position;
    // Sinc is the magnitude of the stored sine, bit for bit.
    for (int i = 0; i < WAVE_TABLE_LENGTH; i += 97)
        EXPECT_EQ(table.At(4, i), std::fabs(table.At(0, i)));
}

// The sine reads the same at mirror positions about the middle of each half,
// bit for bit, and one changed entry anywhere the mirror is checked breaks it.
TEST(WaveTable, SineHalfMirrored)
{
    const WaveTable table;
    EXPECT_TRUE(table.SineHalfMirrored());
    EXPECT_TRUE(IsHalfMirrored(table.Shape(0)));
    for (int position : {1, 4000, 8191, 8193, 16383, 16385, 24575, 24577, 32767}) {
        std::vector<float> sine(table.Shape(0), table.Shape(0) + WAVE_TABLE_LENGTH);
        sine[static_cast<size_t>(position)] = std::nextafter(sine[static_cast<size_t>(position)], 2.0f);
        EXPECT_FALSE(IsHalfMirrored(sine.data())) << "position " << position;
    }
}

TEST(WaveTable, Names)
{
    const char* const names[] = {"Sine", "Square", "Saw", "Triangle", "Sinc", "Pulse 25%", "Trapezoid"};
    ASSERT_EQ(WaveTable::GetNumWaveforms(), 7);
    for (int i = 0; i < 7; ++i)
        EXPECT_STREQ(WaveTable::GetWaveformName(i), names[i]);
    EXPECT_STREQ(WaveTable::GetWaveformName(7), "Invalid - Index Out of Range");
    EXPECT_STREQ(WaveTable::GetWaveformName(-1), "Invalid - Index Out of Range");
}

TEST(NoteFrequency, TableRows)
{
    const std::pair<unsigned, double> rows[] = {
        {0, 8.176},      {21, 27.5},      {60, 261.626},    {69, 440.0},
        {108, 4186.009}, {123, 9956.063}, {124, 10548.08},  {127, 12543.85},
        {128, 0.0},      {unsigned(-1), 0.0},
    };
    for (auto [note, hz] : rows)
        EXPECT_EQ(NoteFrequency(note), hz) << "note " << note;
    for (unsigned n = 0; n < 128; ++n)
        EXPECT_NEAR(NoteFrequency(n), 440.0 * std::pow(2.0, (n - 69.0) / 12.0), 0.0051);
}

// A state rendered one buffer at a time, the way the audio callback does.
class Engine : public ::testing::Test {
protected:
    std::unique_ptr<SynthState> s = std::make_unique<SynthState>();
    std::vector<float> out = std::vector<float>(2 * MAX_FRAMES);

    // Renders `buffers` buffers and returns the left channel of all of them.
    std::vector<float> Render(int buffers)
    {
        std::vector<float> left;
        for (int b = 0; b < buffers; ++b) {
            Access::RenderBuffer(*s, out.data(), MAX_FRAMES);
            for (int i = 0; i < MAX_FRAMES; ++i) {
                EXPECT_EQ(out[2 * i], out[2 * i + 1]) << "channels differ";
                left.push_back(out[2 * i]);
            }
        }
        return left;
    }
    // Envelope gain of a held or releasing note at a time in frames.
    float Gain(int note, uint32_t frames)
    {
        Access::BeginBuffer(*s);
        return Access::EnvelopeLevel(*s, note, frames, 0);
    }
};

TEST_F(Engine, DefaultNoteIsA440SineOfHalfScale)
{
    s->StartNote(69);
    const std::vector<float> left = Render(20);
    EXPECT_EQ(left[0], 0.0f); // the very first frame of a note
    float peak = 0;
    for (size_t i = 1; i < left.size(); ++i) {
        // The table read truncates the phase, so the sound lags an exact sine
        // by less than one table step.
        EXPECT_NEAR(left[i], 0.5 * std::sin(2 * kPi * 440.0 * i / 44100.0), 2e-4) << "frame " << i;
        peak = std::max(peak, std::fabs(left[i]));
    }
    EXPECT_NEAR(peak, 0.5f, 1e-4f);
    EXPECT_NEAR(s->LeftPeak(), 0.5f, 1e-3f);
}

TEST_F(Engine, SilenceStillAdvancesTheLfo)
{
    ChangeSound(*s, [](Sound& sound) { sound.lfoFrequency = 441.0f; }); // 100 samples a cycle
    const std::vector<float> left = Render(1);
    for (float v : left)
        EXPECT_EQ(v, 0.0f);
    EXPECT_EQ(s->LeftPeak(), 0.0f);
    EXPECT_NEAR(Access::LfoPhase(*s), 0.56f, 1e-4f); // 256 / 100, wrapped
}

TEST_F(Engine, EnvelopePoints)
{
    struct Case {
        int attack, decay, sustain;
        double ms;
        float gain;
    } cases[] = {
        {0, 0, 100, 0.0, 0.0f},      {0, 0, 100, 0.1, 1.0f},      {100, 100, 50, 50.0, 0.5f},
        {100, 100, 50, 100.0, 1.0f}, {100, 100, 50, 150.0, 0.75f}, {100, 100, 50, 200.0, 0.5f},
        {100, 100, 50, 900.0, 0.5f}, {0, 100, 0, 100.0, 0.0f},
    };
    for (const Case& c : cases) {
        s->SetParameter(ParamId::Attack, c.attack);
        s->SetParameter(ParamId::Decay, c.decay);
        s->SetParameter(ParamId::Sustain, c.sustain);
        s->StartNote(60);
        const uint32_t frames = static_cast<uint32_t>(std::lround(c.ms * 44.1));
        EXPECT_NEAR(Gain(60, frames), c.gain, 2e-3f) << c.attack << "/" << c.decay << "/" << c.sustain << " at " << c.ms;
    }
}

TEST_F(Engine, ReleaseFallsFromTheGainTheNoteHadAndEndsTheNote)
{
    // Released 29 ms into a 100 ms attack with sustain 50: the release starts
    // from the gain of that moment (0.29), not from the sustain level, and
    // falls in a straight line to 0 over the release time.
    s->SetParameter(ParamId::Attack, 100);
    s->SetParameter(ParamId::Sustain, 50);
    s->SetParameter(ParamId::Release, 10);
    s->StartNote(60);
    Render(5); // 1280 frames, 29.02 ms
    const float atRelease =
        Access::HeldLevel(*s, static_cast<float>(Access::NoteSamples(*s)[60]) * Access::MsPerSample(*s));
    EXPECT_NEAR(atRelease, 0.2902f, 1e-4f);
    s->ReleaseNote(60);
    Access::BeginBuffer(*s);
    EXPECT_TRUE(s->IsNoteReleasing(60));
    EXPECT_NEAR(Access::EnvelopeLevel(*s, 60, Access::NoteSamples(*s)[60], 1), atRelease, 2e-3f);
    EXPECT_NEAR(Access::EnvelopeLevel(*s, 60, Access::NoteSamples(*s)[60], 220), atRelease / 2, 2e-3f);
    EXPECT_EQ(Access::EnvelopeLevel(*s, 60, Access::NoteSamples(*s)[60], 441), 0.0f); // 10 ms: over
    EXPECT_FALSE(s->IsNoteSounding(60));
    EXPECT_EQ(Access::EnvelopeLevel(*s, 60, Access::NoteSamples(*s)[60], 442), 0.0f);
}

TEST_F(Engine, ReleaseNeverJumpsAboveTheGainItStartsFrom)
{
    // Let go at every stage of a slow attack and decay: the first frame of the
    // release is never louder than the last frame before it.
    struct Case {
        int attack, decay, sustain, buffers;
    };
    const Case cases[] = {{2000, 0, 100, 17}, {2000, 500, 80, 200}, {0, 1000, 20, 30},
                          {100, 100, 50, 30}, {0, 0, 70, 3},        {10, 10, 0, 60}};
    for (const Case& c : cases) {
        s = std::make_unique<SynthState>();
        ChangeSound(*s, [&c](Sound& sound) { // an attack longer than the slider's
            sound.attackMs = c.attack;
            sound.decayMs = c.decay;
            sound.sustainPercent = c.sustain;
            sound.releaseMs = 50;
        });
        s->StartNote(69);
        Access::BeginBuffer(*s);
        float before = 0.0f;
        for (int b = 0; b < c.buffers; ++b) {
            Access::RenderBuffer(*s, out.data(), MAX_FRAMES);
            before =
                Access::HeldLevel(*s, static_cast<float>(Access::NoteSamples(*s)[69] - 1) * Access::MsPerSample(*s));
        }
        s->ReleaseNote(69);
        Access::BeginBuffer(*s);
        const float first = Access::EnvelopeLevel(*s, 69, Access::NoteSamples(*s)[69], 0);
        EXPECT_LE(first, before + 1e-3f) << c.attack << "/" << c.decay << "/" << c.sustain << " after " << c.buffers;
        EXPECT_GE(first, before - 1e-2f) << c.attack << "/" << c.decay << "/" << c.sustain << " after " << c.buffers;
    }
}

TEST_F(Engine, ReleaseInTheSustainIsTheSustainLevelsLine)
{
    // A note let go once attack and decay are over falls from the sustain level
    // exactly as the release formula has it, bit for bit, and follows the
    // sustain level if it changes during the release.
    s->SetParameter(ParamId::Attack, 3);
    s->SetParameter(ParamId::Decay, 2);
    s->SetParameter(ParamId::Sustain, 37);
    s->SetParameter(ParamId::Release, 25);
    s->StartNote(60);
    Render(2);
    s->ReleaseNote(60);
    Access::BeginBuffer(*s);
    for (uint32_t i : {1u, 100u, 255u, 800u}) {
        const float e = static_cast<float>(i) * Access::MsPerSample(*s);
        EXPECT_EQ(Access::EnvelopeLevel(*s, 60, Access::NoteSamples(*s)[60], i),
                  static_cast<float>(37 * 0.01 * (25 - e) / 25))
            << i;
    }
    s->SetParameter(ParamId::Sustain, 90);
    Access::BeginBuffer(*s);
    const float e = 10.0f * Access::MsPerSample(*s);
    EXPECT_EQ(Access::EnvelopeLevel(*s, 60, Access::NoteSamples(*s)[60], 10),
              static_cast<float>(90 * 0.01 * (25 - e) / 25));
}

TEST_F(Engine, ZeroReleaseEndsAtTheFirstFrame)
{
    s->SetParameter(ParamId::Release, 0);
    s->StartNote(60);
    Render(2);
    s->ReleaseNote(60);
    const std::vector<float> left = Render(1);
    for (float v : left)
        EXPECT_EQ(v, 0.0f);
    EXPECT_FALSE(s->IsNoteSounding(60));
}

TEST_F(Engine, ReleaseEndingMidBufferIsSilentAfterwards)
{
    s->StartNote(69);
    Render(3);
    s->ReleaseNote(69);
    const std::vector<float> tail = Render(2); // 441 frames of release
    for (int i = 441; i < 512; ++i)
        EXPECT_EQ(tail[i], 0.0f) << i;
    EXPECT_NE(tail[400], 0.0f);
    EXPECT_FALSE(s->IsNoteSounding(69));
    EXPECT_FALSE(s->AnyNoteActive());
}

TEST_F(Engine, MorphStepsPerBuffer)
{
    // Attack 10 ms, decay 0: the partial's level is the attack level in the
    // first buffer, about 0.58 of the way in the second, the sustain level after.
    s->SetParameter(ParamId::Attack, 10);
    s->SetAttackLevel(1, 1.0f);
    s->SetSustainLevel(1, 0.0f);
    s->StartNote(60);
    const float expected[] = {1.0f, 1.0f - 256 * (1000.0f / 44100) / 10, 0.0f, 0.0f};
    for (float level : expected) {
        Access::BeginBuffer(*s);
        EXPECT_NEAR(Access::MorphLevel(*s, 60, 1), level, 1e-6f);
        EXPECT_EQ(Access::MorphLevel(*s, 60, 0), 0.5f); // equal in both spectra: constant
        Access::RenderBuffer(*s, out.data(), MAX_FRAMES);
    }
    s->ReleaseNote(60);
    Access::BeginBuffer(*s);
    EXPECT_EQ(Access::MorphLevel(*s, 60, 1), 0.0f); // releasing: the sustain level
}

TEST_F(Engine, NoAttackOrDecayNeverSoundsTheAttackSpectrum)
{
    s->SetAttackLevel(0, 1.0f);
    s->SetSustainLevel(0, 0.25f);
    s->StartNote(69);
    const std::vector<float> left = Render(2);
    float peak = 0;
    for (float v : left)
        peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, 0.25f, 1e-4f);
}

TEST_F(Engine, NoteOperations)
{
    s->StartNote(60);
    Render(4);
    const float phase = Access::PartialPhase(*s)[60][0];
    const uint32_t samples = Access::NoteSamples(*s)[60];
    s->StartNote(60); // already held: nothing changes
    Access::BeginBuffer(*s);
    EXPECT_EQ(Access::PartialPhase(*s)[60][0], phase);
    EXPECT_EQ(Access::NoteSamples(*s)[60], samples);

    s->ReleaseNote(60);
    Render(1);
    EXPECT_TRUE(s->IsNoteReleasing(60));
    s->StartNote(60); // restarts a releasing note from zero
    Access::BeginBuffer(*s);
    EXPECT_TRUE(s->IsNoteHeld(60));
    EXPECT_FALSE(s->IsNoteReleasing(60));
    EXPECT_EQ(Access::NoteSamples(*s)[60], 0u);
    EXPECT_EQ(Access::PartialPhase(*s)[60][0], 0.0f);

    // A press and release between two buffers still sounds a release tail.
    s->StartNote(62);
    s->ReleaseNote(62);
    Access::BeginBuffer(*s);
    EXPECT_TRUE(s->IsNoteReleasing(62));
    EXPECT_FALSE(s->IsKeyDown(62));

    // Releasing a silent note changes nothing.
    s->ReleaseNote(70);
    Render(1);
    EXPECT_FALSE(s->IsNoteSounding(70));
}

TEST_F(Engine, NoteOffForANoteNotHeldMakesNoSound)
{
    // Silent notes, a second Note Off, and the Note Off of every note that
    // sequencers send when they stop: silence stays silence, and a release
    // in progress goes on from where it is instead of restarting.
    s->SetParameter(ParamId::Attack, 0);
    s->SetParameter(ParamId::Sustain, 100);
    s->SetParameter(ParamId::Release, 20);
    for (int n = 0; n < NUM_NOTES; ++n)
        s->ReleaseNote(n);
    for (float v : Render(2))
        ASSERT_EQ(v, 0.0f);
    EXPECT_FALSE(s->AnyNoteActive());

    s->StartNote(69);
    Render(4);
    s->ReleaseNote(69);
    const std::vector<float> first = Render(1);
    const uint32_t releaseSoFar = Access::ReleaseSamples(*s)[69];
    s->ReleaseNote(69); // again, during the release
    Access::BeginBuffer(*s);
    EXPECT_EQ(Access::ReleaseSamples(*s)[69], releaseSoFar) << "the release was restarted";
    for (int n = 0; n < NUM_NOTES; ++n)
        s->ReleaseNote(n);
    const std::vector<float> rest = Render(4);
    float peak = 0.0f;
    for (float v : rest)
        peak = std::max(peak, std::fabs(v));
    float firstPeak = 0.0f;
    for (float v : first)
        firstPeak = std::max(firstPeak, std::fabs(v));
    EXPECT_LT(peak, firstPeak) << "the release went back up";
    EXPECT_FALSE(s->AnyNoteActive());
    for (float v : Render(1))
        ASSERT_EQ(v, 0.0f);
}

TEST_F(Engine, SubnormalLevelsBecomeZeroWhereverASoundIsSet)
{
    const float tiny = 1e-40f;
    ASSERT_EQ(std::fpclassify(tiny), FP_SUBNORMAL);
    const float smallestNormal = std::numeric_limits<float>::min();
    float levels[NUM_PARTIALS];
    for (int h = 0; h < NUM_PARTIALS; ++h)
        levels[h] = h % 2 ? -tiny : tiny;
    levels[5] = smallestNormal;
    levels[6] = 0.25f;
    s->SetSpectra(levels, levels);
    Sound sound = s->CurrentSound();
    sound.attack.level[9] = tiny;
    s->SetSound(sound);
    s->SetAttackLevel(10, tiny);
    s->SetSustainLevel(11, -tiny);
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        const float expected = h == 5 ? smallestNormal : h == 6 ? 0.25f : 0.0f;
        EXPECT_EQ(s->AttackLevel(h), expected) << h;
        EXPECT_EQ(s->SustainLevel(h), expected) << h;
    }
}

TEST_F(Engine, VelocityPersistsBetweenNotes)
{
    s->SetNoteVelocity(69, SynthState::VelocityFromMidi(64));
    s->StartNote(69);
    Render(1);
    s->ReleaseNote(69);
    Render(3);
    s->StartNote(69); // a later note from the screen keeps MIDI's velocity
    const std::vector<float> left = Render(4);
    float peak = 0;
    for (float v : left)
        peak = std::max(peak, std::fabs(v));
    EXPECT_NEAR(peak, 0.5f * 64 / 127, 1e-4f);
}

TEST_F(Engine, PitchWheelBendsByTwoSemitones)
{
    struct Case {
        float wheel;
        double ratio;
    } cases[] = {{8192.0f, 1.0}, {0.0f, 0.8908987181403393}, {16383.0f, std::pow(2.0, 8191.0 / 4096 / 12)}};
    for (const Case& c : cases) {
        s = std::make_unique<SynthState>();
        s->SetPitchWheel(c.wheel);
        s->StartNote(69);
        Render(1);
        // After one buffer the fundamental's phase is 256 increments on, wrapped.
        const double cycles = 256 * 440.0 * c.ratio / 44100;
        EXPECT_NEAR(Access::PartialPhase(*s)[69][0], cycles - std::floor(cycles), 1e-4) << c.wheel;
    }
}

TEST_F(Engine, PhaseOfExactlyOneWrapsToEntryZero)
{
    s->StartNote(69);
    Render(2);
    Access::PartialPhase(*s)[69][0] = 1.0f;
    Access::RenderBuffer(*s, out.data(), 1);
    EXPECT_EQ(out[0], 0.0f); // entry 0 of the sine, not the entry past the end
    EXPECT_EQ(Access::PartialPhase(*s)[69][0], static_cast<float>(0.0 + 1 / (44100 / 440.0)));
}

TEST_F(Engine, TremoloSquareAtFullDepthGatesHalfOfEachCycle)
{
    s->SetLfoWaveform(1);
    s->SetModWheelDepth(1.0f);
    ChangeSound(*s, [](Sound& sound) { sound.lfoFrequency = 44100.0f / 512; }); // 512 samples a cycle
    s->StartNote(69);
    const std::vector<float> left = Render(4);
    for (int i = 1; i < 1024; ++i) {
        const bool open = (i % 512) < 256;
        if (open)
            EXPECT_NEAR(left[i], 0.5 * std::sin(2 * kPi * 440.0 * i / 44100.0), 2e-4) << i;
        else
            EXPECT_EQ(left[i], 0.0f) << i;
    }
}

TEST_F(Engine, OutOfRangeLfoNeverLeavesTheTable)
{
    const float frequencies[] = {-3.0f, 1e9f, NAN, INFINITY};
    for (float f : frequencies) {
        ChangeSound(*s, [f](Sound& sound) { sound.lfoFrequency = f; });
        s->SetModWheelDepth(0.5f);
        Render(2);
        EXPECT_GE(Access::LfoPhase(*s), 0.0f) << f;
        EXPECT_LT(Access::LfoPhase(*s), 1.0f) << f;
    }
    const std::pair<int, int> shapes[] = {{-5, 0}, {7, 6}, {3, 3}, {1 << 30, 6}};
    for (auto [given, kept] : shapes) {
        s->SetLfoWaveform(given);
        EXPECT_EQ(s->LfoWaveform(), kept);
    }
}

TEST_F(Engine, TenNotesSumWithoutLimiting)
{
    for (int n = 60; n < 70; ++n)
        s->StartNote(n);
    s->SetPitchWheel(8192.0f);
    Render(40);
    EXPECT_GT(s->LeftPeak(), 1.0f);
    EXPECT_LE(s->LeftPeak(), 5.0f);
    // Over a whole second the ten sines line up close to their full sum.
    float peak = 0;
    for (int b = 0; b < 172; ++b) {
        Access::RenderBuffer(*s, out.data(), MAX_FRAMES);
        peak = std::max(peak, s->LeftPeak());
    }
    EXPECT_GT(peak, 3.0f);
}

// A note held, or releasing, for longer than its counter can count (27 hours
// of samples) stays where it was instead of wrapping back to the start of its
// attack or of its release. Both renders.
TEST_F(Engine, CountersSaturateNearTheTopOfTheirRange)
{
    constexpr uint32_t kTop = std::numeric_limits<uint32_t>::max();
    for (bool fast : {false, true}) {
        SCOPED_TRACE(fast ? "fast render" : "reference render");
        s = std::make_unique<SynthState>();
        const auto render = [&](int buffers) {
            for (int b = 0; b < buffers; ++b)
                fast ? Access::Render(*s, out.data(), MAX_FRAMES) : Access::RenderBuffer(*s, out.data(), MAX_FRAMES);
        };
        s->SetParameter(ParamId::Attack, 100);
        s->SetParameter(ParamId::Decay, 100);
        s->SetParameter(ParamId::Sustain, 50);
        ChangeSound(*s, [](Sound& sound) { sound.releaseMs = INT32_MAX; }); // longer than the counter reaches
        s->StartNote(69);
        s->StartNote(76);
        render(1);
        s->ReleaseNote(76);
        render(1);
        Access::NoteSamples(*s)[69] = kTop - 100;
        Access::ReleaseSamples(*s)[76] = kTop - 100;
        render(1);
        EXPECT_EQ(Access::NoteSamples(*s)[69], kTop);
        EXPECT_EQ(Access::ReleaseSamples(*s)[76], kTop);
        render(2);
        EXPECT_EQ(Access::NoteSamples(*s)[69], kTop);
        EXPECT_EQ(Access::ReleaseSamples(*s)[76], kTop);
        EXPECT_TRUE(s->IsNoteHeld(69));
        EXPECT_TRUE(s->IsNoteReleasing(76));
        EXPECT_FLOAT_EQ(Gain(69, Access::NoteSamples(*s)[69]), 0.5f) << "the held note left its sustain";
    }
}

} // namespace

namespace {

// Two sounds that differ in every value, so a buffer that took part of one
// and part of the other is seen.
Sound Whole(int k)
{
    Sound s;
    s.attackMs = 10 * k;
    s.decayMs = 20 * k;
    s.sustainPercent = 30 + k;
    s.releaseMs = 40 * k;
    s.lfoFrequency = 0.5f * static_cast<float>(k);
    s.lfoWaveform = k;
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        s.attack.level[h] = 0.001f * static_cast<float>(k * (h + 1));
        s.sustain.level[h] = 0.002f * static_cast<float>(k * (h + 1));
    }
    return s;
}

// The sound of a buffer's snapshot is one of the two wholes (1 or 2), or 0
// when it mixes them.
int WhichSound(const RenderSnapshot& p)
{
    for (int k : {1, 2}) {
        const Sound s = Whole(k);
        bool same = p.attackMs == s.attackMs && p.decayMs == s.decayMs && p.sustainPercent == s.sustainPercent &&
                    p.releaseMs == s.releaseMs && p.lfoFrequency == s.lfoFrequency && p.lfoWaveform == s.lfoWaveform;
        for (int h = 0; h < NUM_PARTIALS && same; ++h)
            same = p.attack[h] == s.attack.level[h] && p.sustain[h] == s.sustain.level[h];
        if (same)
            return k;
    }
    return 0;
}

} // namespace

// While another thread replaces the whole sound over and over, every buffer
// takes one sound whole: never the envelope of one and the spectra of the
// other, never half a spectrum.
TEST(WholeSound, EveryBufferTakesOneSoundWhole)
{
    auto s = std::make_unique<SynthState>();
    s->SetSound(Whole(1));
    // The first buffer takes sound 1 before the writer starts: on a busy
    // machine the writer can be inside a change at every later buffer start
    // for a while, and the snapshot would keep the start-up sound meanwhile.
    Access::BeginBuffer(*s);
    // The writer changes between sounds 1 and 2 back to back, so that buffers
    // begin in the middle of changes; after every fifth change (sound 1 and
    // sound 2 in turn) it waits until a buffer has begun since, so that the
    // render also takes each sound with no change in progress. The render goes
    // on until the writer has made enough changes and it has seen both sounds
    // often, however the two threads are scheduled on a busy machine (the time
    // limit only ends a run whose writer never gets its turn).
    constexpr int kChanges = 200;
    constexpr int kBuffers = 20000;
    constexpr int kTakes = 20;
    std::atomic<bool> stop{false};
    std::atomic<int> changes{0};
    std::atomic<int> buffers{0};
    std::thread gui([&] {
        for (int i = 0; !stop.load(std::memory_order_relaxed); ++i) {
            const int k = 1 + i % 2;
            s->SetSound(Whole(k));
            // The editor's way: both spectra again on their own.
            const Sound w = Whole(k);
            s->SetSpectra(w.attack.level, w.sustain.level);
            changes.fetch_add(1, std::memory_order_relaxed);
            if (i % 5 == 0) {
                const int after = buffers.load(std::memory_order_acquire);
                while (buffers.load(std::memory_order_acquire) <= after + 1 && !stop.load(std::memory_order_relaxed))
                    std::this_thread::yield();
            }
        }
    });
    int seen[3] = {};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (buffers.load(std::memory_order_relaxed) < kBuffers || changes.load(std::memory_order_relaxed) < kChanges ||
           seen[1] < kTakes || seen[2] < kTakes) {
        if ((buffers.load(std::memory_order_relaxed) & 1023) == 0 && std::chrono::steady_clock::now() > deadline)
            break;
        Access::BeginBuffer(*s);
        ++seen[WhichSound(Access::Snapshot(*s))];
        buffers.fetch_add(1, std::memory_order_release);
    }
    stop = true;
    gui.join();
    EXPECT_EQ(seen[0], 0) << "buffers that mixed two sounds";
    EXPECT_GE(changes.load(), kChanges) << "the writer had too few turns in two minutes";
    EXPECT_GE(seen[1], kTakes);
    EXPECT_GE(seen[2], kTakes);
}

// The meters poll every 50 ms while the render stores a peak every buffer:
// the largest peak since the last poll is held for them, then starts again.
TEST(WholeSound, TheLargestPeakIsHeldUntilTaken)
{
    auto s = std::make_unique<SynthState>();
    std::vector<float> out(2 * MAX_FRAMES);
    EXPECT_EQ(s->TakeLeftMaxPeak(), 0.0f);
    Sound loud = s->CurrentSound();
    loud.attack.level[0] = loud.sustain.level[0] = 2.0f;
    s->SetSound(loud);
    s->StartNote(69);
    for (int b = 0; b < 4; ++b)
        Access::RenderBuffer(*s, out.data(), MAX_FRAMES);
    s->ReleaseNote(69);
    for (int b = 0; b < 10; ++b)
        Access::RenderBuffer(*s, out.data(), MAX_FRAMES);
    EXPECT_EQ(s->LeftPeak(), 0.0f) << "the last buffer is silent";
    const float left = s->TakeLeftMaxPeak();
    EXPECT_GT(left, 1.9f);
    EXPECT_LE(left, 2.0f);
    EXPECT_EQ(s->TakeRightMaxPeak(), left);
    EXPECT_EQ(s->TakeLeftMaxPeak(), 0.0f) << "taking the peak did not start it again";
    // A sample that is no number counts as over full scale.
    loud.attack.level[0] = loud.sustain.level[0] = std::numeric_limits<float>::infinity();
    s->SetSound(loud);
    s->StartNote(69);
    Access::RenderBuffer(*s, out.data(), MAX_FRAMES);
    Access::RenderBuffer(*s, out.data(), MAX_FRAMES);
    EXPECT_GT(s->TakeLeftMaxPeak(), 1.0f);
}
