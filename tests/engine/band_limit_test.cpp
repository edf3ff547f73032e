// The band limit: with the switch on, no partial at or above half the sample
// rate is rendered, those in the fade band just below it are faded, and a
// note whose partials all lie below the band sounds as with the switch off.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/EngineTestAccess.h"
#include "synth/Engine.h"

namespace {

using Access = SynthStateTestAccess;

// A sound with the given levels (the same in both spectra), no attack, full
// sustain, the band limit as asked.
Sound SoundOf(const std::function<float(int)>& level, bool bandLimit)
{
    Sound s;
    s.sustainPercent = 100;
    s.bandLimit = bandLimit;
    for (int h = 0; h < NUM_PARTIALS; ++h)
        s.attack.level[h] = s.sustain.level[h] = level(h);
    return s;
}

// A saw-like sound: partial h + 1 at 1 / (h + 1), all 128 of them.
float Saw(int h)
{
    return 1.0f / static_cast<float>(h + 1);
}

// One engine rendering `notes` held from the first frame, buffer by buffer,
// with the wheel set before each buffer by `wheel` (centred when null).
struct Player {
    std::unique_ptr<SynthState> synth = std::make_unique<SynthState>(false);
    std::vector<float> out;

    Player(const Sound& sound, std::initializer_list<int> notes, int32_t rate = SAMPLE_RATE)
    {
        synth->SetSampleRate(rate);
        synth->SetSound(sound);
        for (int n : notes)
            synth->StartNote(n);
    }
    // Renders `buffers` buffers of 256 frames; returns the left channel of them.
    std::vector<float> Play(int buffers, const std::function<float(int)>& wheel = nullptr)
    {
        std::vector<float> left;
        float stereo[2 * MAX_FRAMES];
        for (int b = 0; b < buffers; ++b) {
            if (wheel)
                synth->SetPitchWheel(wheel(b));
            Access::Render(*synth, stereo, MAX_FRAMES);
            for (int i = 0; i < MAX_FRAMES; ++i)
                left.push_back(stereo[2 * i]);
        }
        return left;
    }
};

bool SameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// The gain that takes `off` to `on` in the least-squares sense: the level
// the band limit left the partial, where the sound has one partial.
double GainBetween(const float* on, const float* off, size_t count, double& energy)
{
    double cross = 0.0;
    energy = 0.0;
    for (size_t i = 0; i < count; ++i) {
        cross += static_cast<double>(on[i]) * off[i];
        energy += static_cast<double>(off[i]) * off[i];
    }
    return energy > 0.0 ? cross / energy : 0.0;
}

// One partial of one note, with the switch on and off: what is left of it.
TEST(BandLimit, CutsAtNyquistFadesBelowItKeepsTheRest)
{
    enum class Expect { Whole, Faded, Cut };
    struct Case {
        const char* what;
        int32_t rate;
        int note;
        int partial; // 0 is the fundamental
        Expect expect;
    };
    const Case cases[] = {
        {"exactly at Nyquist: 5 x 440 Hz at 4400 Hz", 4400, 69, 4, Expect::Cut},
        {"above Nyquist: 2 x 12543.85 Hz", SAMPLE_RATE, 127, 1, Expect::Cut},
        {"far above: 128 x 12543.85 Hz", SAMPLE_RATE, 127, 127, Expect::Cut},
        {"in the fade band: 2 x 10548.08 Hz", SAMPLE_RATE, 124, 1, Expect::Faded},
        {"just inside the band: 11 x 1975.53 Hz", SAMPLE_RATE, 95, 10, Expect::Faded},
        {"just below the band: 10 x 1975.53 Hz", SAMPLE_RATE, 95, 9, Expect::Whole},
        {"below: 4 x 440 Hz at 4400 Hz", 4400, 69, 3, Expect::Whole},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto only = [&c](int h) { return h == c.partial ? 0.5f : 0.0f; };
        Player on(SoundOf(only, true), {c.note}, c.rate);
        Player off(SoundOf(only, false), {c.note}, c.rate);
        const std::vector<float> heardOn = on.Play(8);
        const std::vector<float> heardOff = off.Play(8);
        const float phaseOn = Access::PartialPhase(*on.synth)[c.note][c.partial];
        const float phaseOff = Access::PartialPhase(*off.synth)[c.note][c.partial];
        const double inc = Access::PartialIncrement(*on.synth, c.partial, Access::BentFrequency(*on.synth, c.note));
        switch (c.expect) {
        case Expect::Cut:
            EXPECT_GE(inc, 0.5);
            // Nothing rendered: silence, and the phase never stepped.
            EXPECT_EQ(std::count(heardOn.begin(), heardOn.end(), 0.0f), static_cast<long>(heardOn.size()));
            EXPECT_EQ(phaseOn, 0.0f);
            EXPECT_NE(phaseOff, 0.0f);
            break;
        case Expect::Faded: {
            EXPECT_GE(inc, 0.45);
            EXPECT_LT(inc, 0.5);
            EXPECT_EQ(phaseOn, phaseOff);
            double energy = 0.0;
            const double gain = GainBetween(heardOn.data(), heardOff.data(), heardOn.size(), energy);
            ASSERT_GT(energy, 1.0);
            EXPECT_NEAR(gain, (0.5 - inc) / 0.05, 1e-6);
            break;
        }
        case Expect::Whole:
            EXPECT_LT(inc, 0.45);
            EXPECT_TRUE(SameBits(heardOn, heardOff));
            EXPECT_EQ(phaseOn, phaseOff);
            break;
        }
    }
}

// A note whose partials all lie below the fade band renders bit for bit as
// with the switch off, whatever else sounds; a high note of the same sound
// does not.
TEST(BandLimit, NotesBelowTheBandRenderAsWithTheSwitchOff)
{
    struct Case {
        std::initializer_list<int> notes;
        float wheel;
        bool same;
    };
    const Case cases[] = {
        {{21, 33, 40}, 8192.0f, true},  // 128 x 82.41 Hz: 10548 Hz at most
        {{40}, 16383.0f, true},         // bent up two semitones: 11839 Hz
        {{45, 52}, 0.0f, true},         // 128 x 164.81 Hz bent down: 18793 Hz
        {{50}, 8192.0f, true},          // 128 x 146.83 Hz: 18794 Hz
        {{51}, 8192.0f, false},         // 128 x 155.56 Hz: 19912 Hz, in the band
        {{50}, 13000.0f, false},        // bent into it (1.17 semitones up)
        {{21, 100}, 8192.0f, false},
    };
    const auto withMorph = [](bool bandLimit) {
        Sound s = SoundOf(Saw, bandLimit);
        s.attackMs = 20;
        s.decayMs = 30;
        s.sustainPercent = 60;
        for (int h = 0; h < NUM_PARTIALS; h += 2)
            s.attack.level[h] = 0.3f;
        return s;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(*c.notes.begin()) + " wheel " + std::to_string(c.wheel));
        Player on(withMorph(true), c.notes);
        Player off(withMorph(false), c.notes);
        const auto wheel = [&c](int) { return c.wheel; };
        EXPECT_EQ(SameBits(on.Play(12, wheel), off.Play(12, wheel)), c.same);
    }
}

// The wheel sweeps the second partial of note 124 from below the fade band
// (two semitones down: 18.8 kHz) to past Nyquist (two up: 23.7 kHz), a small
// step every buffer. The level the partial is rendered at (its output over
// what the switch off renders from the same phases) falls from whole to
// nothing in steps no larger than the sweep's: no buffer drops it at once,
// which would be heard as a click.
TEST(BandLimit, SweepAcrossNyquistFadesWithoutAClick)
{
    constexpr int kBuffers = 200;
    const auto only = [](int h) { return h == 1 ? 0.5f : 0.0f; };
    const auto wheel = [](int b) { return static_cast<float>(b * 16383 / (kBuffers - 1)); };
    Player on(SoundOf(only, true), {124});
    Player off(SoundOf(only, false), {124});
    const std::vector<float> heardOn = on.Play(kBuffers, wheel);
    const std::vector<float> heardOff = off.Play(kBuffers, wheel);

    double last = 1.0;
    double largestStep = 0.0;
    int measured = 0;
    int silent = 0;
    for (int b = 0; b < kBuffers; ++b) {
        const size_t at = static_cast<size_t>(b) * MAX_FRAMES;
        double energy = 0.0;
        const double gain = GainBetween(heardOn.data() + at, heardOff.data() + at, MAX_FRAMES, energy);
        if (energy < 1e-3)
            continue; // too little of the partial in this buffer to tell its level
        ++measured;
        largestStep = std::max(largestStep, std::fabs(gain - last));
        last = gain;
        silent += gain == 0.0;
    }
    EXPECT_GE(measured, kBuffers * 3 / 4);
    EXPECT_GE(silent, 20) << "the sweep passes Nyquist";
    EXPECT_EQ(last, 0.0);
    // The sweep moves the partial's increment by 0.06 % a buffer: the fade
    // moves by about 0.012 a buffer.
    EXPECT_LT(largestStep, 0.03) << "the partial's level jumped";
}

// The window of the spectrum below: four-term Blackman-Harris (side lobes
// 92 dB down).
std::vector<double> BlackmanHarris(size_t n)
{
    std::vector<double> w(n);
    const double pi = std::acos(-1.0);
    for (size_t i = 0; i < n; ++i) {
        const double x = 2 * pi * static_cast<double>(i) / static_cast<double>(n);
        w[i] = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
    }
    return w;
}

// The magnitude of the windowed signal at `hz` (a single term of the
// discrete-time Fourier transform).
double MagnitudeAt(const std::vector<double>& x, double hz, double rate)
{
    const double step = 2 * std::acos(-1.0) * hz / rate;
    double re = 0.0;
    double im = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        re += x[i] * std::cos(step * static_cast<double>(i));
        im -= x[i] * std::sin(step * static_cast<double>(i));
    }
    return std::hypot(re, im);
}

struct FoldBack {
    double harmonicDb; // the strongest harmonic
    double foldedDb;   // the strongest fold-back, relative to that harmonic
    int partial;       // whose fold-back it is (1 is the fundamental)
};

// A saw-like sound of 128 partials held at B6 (note 95, 1975.53 Hz): the
// level of each harmonic below Nyquist and of each partial above it where
// it folds back to, from 32768 frames of the sustained note.
FoldBack MeasureFoldBack(bool bandLimit)
{
    Player player(SoundOf(Saw, bandLimit), {95});
    const std::vector<float> left = player.Play(16 + 128);
    constexpr size_t kFrames = 32768;
    const std::vector<double> window = BlackmanHarris(kFrames);
    std::vector<double> x(kFrames);
    for (size_t i = 0; i < kFrames; ++i)
        x[i] = left[16 * MAX_FRAMES + i] * window[i];
    const double rate = SAMPLE_RATE;
    const double f = NoteFrequency(95);
    FoldBack result{-1e9, -1e9, 0};
    double strongest = 0.0;
    for (int p = 1; p * f < rate / 2; ++p)
        strongest = std::max(strongest, MagnitudeAt(x, p * f, rate));
    for (int p = 1; p <= NUM_PARTIALS; ++p) {
        if (p * f < rate / 2)
            continue;
        // Where partial p lands: its frequency folded into 0 to rate / 2.
        double folded = std::fmod(p * f, rate);
        if (folded > rate / 2)
            folded = rate - folded;
        const double db = 20 * std::log10(MagnitudeAt(x, folded, rate) / strongest);
        if (db > result.foldedDb)
            result = {20 * std::log10(strongest), db, p};
    }
    return result;
}

// The fold-back of a bright sound at a high note: with the switch off the
// partials above Nyquist come back as false tones about 22 dB under the
// fundamental; on, nothing is there but the render's own noise.
TEST(BandLimit, NoFoldBackAtB6)
{
    const FoldBack off = MeasureFoldBack(false);
    const FoldBack on = MeasureFoldBack(true);
    std::printf("fold-back at B6: off %.1f dB (partial %d), on %.1f dB (partial %d)\n", off.foldedDb, off.partial,
                on.foldedDb, on.partial);
    RecordProperty("fold_back_off_db", std::to_string(off.foldedDb));
    RecordProperty("fold_back_on_db", std::to_string(on.foldedDb));
    EXPECT_GT(off.foldedDb, -40.0);
    EXPECT_LT(on.foldedDb, -100.0);
    // The harmonics below the band are the same.
    EXPECT_NEAR(on.harmonicDb, off.harmonicDb, 0.01);
}

} // namespace
