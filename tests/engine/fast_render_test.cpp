// The vectorised render against the reference render, byte for byte: two
// engines fed the same operations, one rendered by RenderBuffer and one by a
// vectorised variant, compared after every buffer (the output, and everything
// the render owns: phases, counters, flags, the LFO phase, the peaks). Every
// case runs with every variant this processor supports.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "synth/FloatEnvironment.h"
#include "synth/RenderFast.h"
#include "synth/RenderFastKernel.h"
#include "synth/RenderSplit.h"
#include "synth/SynthState.h"
#include "support/EngineTestAccess.h"

namespace {

// The render's steps and rows (tests/support/EngineTestAccess.h).
using Access = SynthStateTestAccess;

// The calling thread's floating-point control with subnormal numbers flushed
// to zero (and, on x86, taken as zero).
marovane_fp::Control Flushing(marovane_fp::Control c)
{
#if defined(__x86_64__) || defined(__i386__)
    return c | 0x8040;
#elif defined(__aarch64__)
    return c | (marovane_fp::Control{1} << 24);
#else
    return c;
#endif
}

// The phases up to which the wrap is checked (see the wrap tests at the end).
constexpr float kWrapCheckedBelow = 2048.0f;

// What a case does to an engine before buffer `b` is rendered; the same calls
// go to both engines. It returns the frame count of that buffer.
using Step = std::function<unsigned(SynthState&, int b)>;

struct ExactCase {
    const char* name;
    int buffers;
    Step step;
    bool expectSound = true; // the case must produce some non-zero output
};

void SetSpectraByRule(SynthState& s, const std::function<float(int)>& attack, const std::function<float(int)>& sustain)
{
    float a[NUM_PARTIALS], u[NUM_PARTIALS];
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        a[h] = attack(h);
        u[h] = sustain(h);
    }
    s.SetSpectra(a, u);
}

// The first `count` partials sound, with an attack spectrum that differs from
// the sustain spectrum so the morph moves.
void FirstPartials(SynthState& s, int count)
{
    SetSpectraByRule(
        s, [count](int h) { return h < count ? 0.9f / static_cast<float>(h + 1) : 0.0f; },
        [count](int h) { return h < count ? 0.3f / static_cast<float>(h + 2) : 0.0f; });
    s.SetParameter(ParamId::Attack, 20);
    s.SetParameter(ParamId::Decay, 30);
    s.SetParameter(ParamId::Sustain, 70);
}

void HoldChord(SynthState& s, int b, std::initializer_list<int> notes)
{
    if (b == 0)
        for (int n : notes)
            s.StartNote(n);
}

std::vector<ExactCase> Cases()
{
    std::vector<ExactCase> cases;
    for (int count : {1, 15, 16, 17, 128}) {
        cases.push_back({count == 1 ? "Partials1" : count == 15 ? "Partials15" : count == 16 ? "Partials16"
                                                  : count == 17 ? "Partials17" : "Partials128",
                         30, [count](SynthState& s, int b) {
                             if (b == 0)
                                 FirstPartials(s, count);
                             HoldChord(s, b, {21, 48, 60, 61, 72, 96});
                             if (b == 20)
                                 s.ReleaseNote(60);
                             return MAX_FRAMES;
                         }});
    }
    cases.push_back({"SparseSpectra", 30, [](SynthState& s, int b) {
                         if (b == 0) {
                             // Half the partials zero in both spectra, some zero in one only,
                             // negative levels too (patch files may hold any float).
                             SetSpectraByRule(
                                 s, [](int h) { return h % 2 ? 0.0f : (h % 3 ? 0.2f : -0.1f); },
                                 [](int h) { return h % 2 ? 0.0f : (h % 5 ? 0.0f : 0.4f); });
                             s.SetParameter(ParamId::Attack, 15);
                             s.SetParameter(ParamId::Decay, 0);
                         }
                         HoldChord(s, b, {30, 55, 80});
                         return MAX_FRAMES;
                     }});
    cases.push_back({"HighNotesBentUp", 12, [](SynthState& s, int b) {
                         // Increments far above 1: partial 128 of note 127 bent up two
                         // semitones runs about 41 cycles a sample.
                         if (b == 0) {
                             FirstPartials(s, 128);
                             s.SetPitchWheel(16383.0f);
                             for (int n = 100; n < NUM_NOTES; ++n)
                                 s.StartNote(n);
                         }
                         return MAX_FRAMES;
                     }});
    cases.push_back({"TopNoteTopPartialBothWheelEnds", 12, [](SynthState& s, int b) {
                         // The fastest partial there is (and the slowest beside it):
                         // partial 128 of note 127, the wheel at one end, then the other.
                         if (b == 0) {
                             SetSpectraByRule(
                                 s, [](int h) { return h == 127 ? 0.6f : h == 0 ? 0.2f : 0.0f; },
                                 [](int h) { return h == 127 ? 0.3f : h == 0 ? 0.1f : 0.0f; });
                             s.SetParameter(ParamId::Attack, 2);
                             s.SetParameter(ParamId::Decay, 3);
                             s.StartNote(127);
                             s.StartNote(0);
                         }
                         s.SetPitchWheel(b < 6 ? 16383.0f : 0.0f);
                         return MAX_FRAMES;
                     }});
    cases.push_back({"EnvelopeTimesFromAnyPatch", 36, [](SynthState& s, int b) {
                         // Attack and decay as a patch file may hold them: a negative decay
                         // ending before the attack does, a negative attack, sums past the
                         // int32 range. Notes held through each, and re-started.
                         static const int32_t times[][2] = {{40, -30}, {-5, 30}, {0, 0}, {3, 0},
                                                            {2147483647, 2147483647}, {25, -2147483647}};
                         if (b == 0)
                             FirstPartials(s, 18);
                         if (b % 6 == 0) {
                             ChangeSound(s, [b](Sound& sound) {
                                 sound.attackMs = times[b / 6][0];
                                 sound.decayMs = times[b / 6][1];
                             });
                             for (int n : {36, 50, 64})
                                 s.StartNote(n);
                         }
                         if (b % 6 == 4)
                             for (int n : {36, 50, 64})
                                 s.ReleaseNote(n);
                         return MAX_FRAMES;
                     }});
    cases.push_back({"PhaseJustBelowOne", 10, [](SynthState& s, int b) {
                         if (b == 0) {
                             FirstPartials(s, 128);
                             s.StartNote(69);
                             s.StartNote(127);
                         }
                         if (b == 1) {
                             // After the start, so the restart does not zero them again.
                             const float below = std::nextafter(1.0f, 0.0f);
                             const float wide[] = {below, 1.0f, 2.0f - 2 * std::numeric_limits<float>::epsilon(),
                                                   std::nextafter(0.0f, 1.0f), 3.0f, 0.5f};
                             for (int h = 0; h < NUM_PARTIALS; ++h) {
                                 Access::PartialPhase(s)[69][h] = below;
                                 Access::PartialPhase(s)[127][h] = wide[h % 6];
                             }
                         }
                         return MAX_FRAMES;
                     }});
    cases.push_back({"ReleasesEndMidBuffer", 40, [](SynthState& s, int b) {
                         if (b == 0) {
                             FirstPartials(s, 24);
                             s.SetParameter(ParamId::Release, 7); // 308.7 frames: ends inside the second buffer
                         }
                         HoldChord(s, b, {40, 41, 42, 43, 44});
                         if (b == 5)
                             s.ReleaseNote(40);
                         if (b == 9) {
                             s.ReleaseNote(41);
                             s.ReleaseNote(90); // a silent note's release tail
                         }
                         if (b == 15) {
                             s.SetParameter(ParamId::Release, 0); // ends at the first frame
                             s.ReleaseNote(42);
                         }
                         if (b == 20) {
                             s.SetParameter(ParamId::Release, 3);
                             s.ReleaseNote(43);
                             s.StartNote(40); // restart a silent note
                         }
                         return MAX_FRAMES;
                     }});
    cases.push_back({"ReleasedInAttackAndDecay", 60, [](SynthState& s, int b) {
                         if (b == 0) {
                             FirstPartials(s, 32);
                             for (int h = 0; h < 32; h += 3)
                                 s.SetAttackLevel(h, 0.02f * static_cast<float>(h % 7));
                             s.SetParameter(ParamId::Attack, 60);
                             s.SetParameter(ParamId::Decay, 120);
                             s.SetParameter(ParamId::Sustain, 30);
                             s.SetParameter(ParamId::Release, 90);
                         }
                         HoldChord(s, b, {50, 57, 64});
                         if (b == 4)
                             s.ReleaseNote(50); // in the attack
                         if (b == 17)
                             s.ReleaseNote(57); // in the decay
                         if (b == 40)
                             s.ReleaseNote(64); // in the sustain
                         return MAX_FRAMES;
                     }});
    for (float wheel : {0.0f, 8192.0f, 16383.0f}) {
        cases.push_back({wheel == 0.0f ? "PitchWheel0" : wheel == 8192.0f ? "PitchWheel8192" : "PitchWheel16383", 8,
                         [wheel](SynthState& s, int b) {
                             if (b == 0) {
                                 FirstPartials(s, 40);
                                 s.SetPitchWheel(wheel);
                             }
                             HoldChord(s, b, {0, 33, 64, 100});
                             return MAX_FRAMES;
                         }});
    }
    static const char* const lfoNames[] = {"LfoSine", "LfoSquare", "LfoSaw", "LfoTriangle",
                                           "LfoSinc", "LfoPulse", "LfoTrapezoid"};
    for (int shape = 0; shape < NUM_WAVEFORMS; ++shape) {
        cases.push_back({lfoNames[shape], 12, [shape](SynthState& s, int b) {
                             if (b == 0) {
                                 FirstPartials(s, 20);
                                 s.SetLfoWaveform(shape);
                                 s.SetParameter(ParamId::LfoFrequency, 13.7f);
                                 s.SetModWheelDepth(0.8f);
                             }
                             if (b == 6)
                                 s.SetModWheelDepth(1.0f);
                             HoldChord(s, b, {50, 57});
                             return MAX_FRAMES;
                         }});
    }
    cases.push_back({"Velocities", 10, [](SynthState& s, int b) {
                         if (b == 0) {
                             FirstPartials(s, 33);
                             for (int n = 0; n < NUM_NOTES; ++n)
                                 s.SetNoteVelocity(n, SynthState::VelocityFromMidi((n * 37) % 128));
                             for (int n = 10; n < NUM_NOTES; n += 9)
                                 s.StartNote(n);
                         }
                         if (b == 4)
                             s.SetNoteVelocity(19, 0.25f); // kept for the note's next start
                         if (b == 5) {
                             s.ReleaseNote(19);
                             s.StartNote(19);
                         }
                         return MAX_FRAMES;
                     }});
    cases.push_back({"OddFrameCounts", 24, [](SynthState& s, int b) {
                         if (b == 0)
                             FirstPartials(s, 21);
                         HoldChord(s, b, {45, 58, 71});
                         static const unsigned counts[] = {1, 15, 16, 17, 100, 255, 256, 3};
                         return counts[b % 8];
                     }});
    cases.push_back({"SplitFrameCounts", 24, [](SynthState& s, int b) {
                         // Around the shortest buffer the two-thread render splits, and
                         // second parts that end inside a 16-frame tile.
                         if (b == 0)
                             FirstPartials(s, 37);
                         HoldChord(s, b, {24, 36, 47, 59, 70, 83, 95});
                         if (b == 12)
                             s.ReleaseNote(47);
                         static const unsigned counts[] = {63, 64, 65, 79, 96, 130, 200, 256};
                         return counts[b % 8];
                     }});
    cases.push_back({"NotesBetweenBuffers", 80, [](SynthState& s, int b) {
                         // The same pseudo-random sequence on both engines: notes started
                         // and released, spectra, envelope and wheels changed between buffers.
                         std::mt19937 rng(static_cast<unsigned>(1000 + b));
                         if (b == 0)
                             FirstPartials(s, 64);
                         for (int k = 0; k < 6; ++k) {
                             const int note = static_cast<int>(rng() % NUM_NOTES);
                             if (rng() % 3)
                                 s.StartNote(note);
                             else
                                 s.ReleaseNote(note);
                         }
                         if (b % 10 == 3) {
                             const int count = 1 + static_cast<int>(rng() % NUM_PARTIALS);
                             const float scale = static_cast<float>(rng() % 1000) / 2000.0f;
                             SetSpectraByRule(
                                 s, [&](int h) { return h < count && h % 3 != 1 ? scale / static_cast<float>(h + 1) : 0.0f; },
                                 [&](int h) { return h < count && h % 4 != 2 ? scale * 0.5f : 0.0f; });
                             s.SetParameter(ParamId::Attack, static_cast<int32_t>(rng() % 40));
                             s.SetParameter(ParamId::Decay, static_cast<int32_t>(rng() % 40));
                             s.SetParameter(ParamId::Sustain, static_cast<int32_t>(rng() % 101));
                             s.SetParameter(ParamId::Release, static_cast<int32_t>(rng() % 30));
                         }
                         if (b % 7 == 2)
                             s.SetPitchWheel(static_cast<float>(rng() % 16384));
                         if (b % 11 == 5) {
                             s.SetLfoWaveform(static_cast<int32_t>(rng() % NUM_WAVEFORMS));
                             s.SetModWheelDepth(static_cast<float>(rng() % 100) / 99.0f);
                         }
                         return MAX_FRAMES;
                     }});
    // Held notes whose partials change under them: the same number of
    // partials but another set of them, then another rate (the increments
    // of a held note must follow both).
    cases.push_back({"SamePartialCountOtherSetThenRate", 10, [](SynthState& s, int b) {
                         const int set = b < 4 ? 0 : 1;
                         if (b == 0 || b == 4)
                             SetSpectraByRule(
                                 s, [&](int h) { return h % 2 == set ? 0.3f / static_cast<float>(h + 1) : 0.0f; },
                                 [&](int h) { return h % 2 == set ? 0.2f / static_cast<float>(h + 1) : 0.0f; });
                         if (b == 0)
                             for (int n : {33, 45, 57, 69, 81, 93})
                                 s.StartNote(n);
                         if (b == 7)
                             s.SetSampleRate(s.SampleRate() == 48000 ? 44100 : 48000);
                         return MAX_FRAMES;
                     }});
    cases.push_back({"AllNotesAllPartials", 6, [](SynthState& s, int b) {
                         if (b == 0) {
                             FirstPartials(s, 128);
                             for (int n = 0; n < NUM_NOTES; ++n)
                                 s.StartNote(n);
                         }
                         if (b == 4)
                             for (int n = 0; n < NUM_NOTES; n += 2)
                                 s.ReleaseNote(n);
                         return MAX_FRAMES;
                     }});
    // The band limit: every note renders the first of the buffer's partials
    // up to Nyquist, those just below it faded, a count of its own that the
    // pitch wheel moves from buffer to buffer (so notes of different counts
    // follow one another through the kernels' chaining); switched off and on
    // under held notes.
    cases.push_back({"BandLimitAllNotesBent", 24, [](SynthState& s, int b) {
                         if (b == 0) {
                             FirstPartials(s, 128);
                             s.SetParameter(ParamId::BandLimit, 1.0f);
                             for (int n = 0; n < NUM_NOTES; ++n)
                                 s.StartNote(n);
                         }
                         s.SetPitchWheel(static_cast<float>((b * 1531) % 16384));
                         if (b == 9)
                             s.SetParameter(ParamId::BandLimit, 0.0f);
                         if (b == 12)
                             s.SetParameter(ParamId::BandLimit, 1.0f);
                         if (b == 18)
                             for (int n = 0; n < NUM_NOTES; n += 3)
                                 s.ReleaseNote(n);
                         return MAX_FRAMES;
                     }});
    // A sparse spectrum (the rendered partials are not the first ones) with
    // the wheel sweeping high notes' partials through the fade band and past
    // Nyquist, buffers of every length the two-thread render splits or not.
    cases.push_back({"BandLimitSparseSweep", 48, [](SynthState& s, int b) {
                         if (b == 0) {
                             SetSpectraByRule(
                                 s, [](int h) { return h % 3 == 1 ? 0.0f : 0.5f / static_cast<float>(h + 1); },
                                 [](int h) { return h % 3 == 1 ? 0.0f : 0.2f / static_cast<float>(h + 1); });
                             s.SetParameter(ParamId::Attack, 10);
                             s.SetParameter(ParamId::Decay, 20);
                             s.SetParameter(ParamId::BandLimit, 1.0f);
                         }
                         HoldChord(s, b, {50, 88, 95, 100, 106, 112, 118, 124});
                         s.SetPitchWheel(static_cast<float>(b * 16383 / 47));
                         static const unsigned counts[] = {256, 63, 64, 130, 17, 200, 255, 96};
                         return counts[b % 8];
                     }});
    // Notes that render nothing (every partial at or above Nyquist) between
    // notes that do: their envelopes, counters and releases go on.
    cases.push_back({"BandLimitNotesWithNothingBelowNyquist", 30, [](SynthState& s, int b) {
                         if (b == 0) {
                             SetSpectraByRule(
                                 s, [](int h) { return h >= 2 ? 0.4f / static_cast<float>(h) : 0.0f; },
                                 [](int h) { return h >= 2 ? 0.1f / static_cast<float>(h) : 0.0f; });
                             s.SetParameter(ParamId::Attack, 5);
                             s.SetParameter(ParamId::Decay, 5);
                             s.SetParameter(ParamId::Release, 4);
                             s.SetParameter(ParamId::BandLimit, 1.0f);
                         }
                         HoldChord(s, b, {40, 60, 115, 116, 117, 120, 121, 122, 127});
                         if (b == 10)
                             for (int n : {116, 121, 60})
                                 s.ReleaseNote(n);
                         if (b == 20)
                             s.StartNote(116);
                         s.SetPitchWheel(b < 15 ? 8192.0f : 0.0f);
                         return MAX_FRAMES;
                     }});
    cases.push_back({"Silence", 4, [](SynthState&, int) { return MAX_FRAMES; }, false});
    cases.push_back({"TunedKeysSilentKeysAndARetuning", 14, [](SynthState& s, int b) {
                         // A tuning up to the highest frequency a key may have, every
                         // fifth key silent, the wheel bent, then another tuning under
                         // sounding notes, then twelve equal steps again.
                         double f[NUM_NOTES];
                         bool sounds[NUM_NOTES];
                         for (int n = 0; n < NUM_NOTES; ++n) {
                             f[n] = 20.0 * std::pow(1000.0, n / 127.0) * (b < 5 ? 1.0 : 1.01);
                             sounds[n] = n % 5 != (b < 5 ? 0 : 1);
                         }
                         if (b == 0) {
                             FirstPartials(s, 128);
                             s.SetPitchWheel(12000.0f);
                         }
                         if (b == 0 || b == 5)
                             s.SetTuning(f, sounds);
                         if (b == 10)
                             s.SetEqualTuning();
                         if (b == 0 || b == 6 || b == 11)
                             for (int n = 90; n < NUM_NOTES; n += 3)
                                 s.StartNote(n);
                         if (b == 8)
                             for (int n = 90; n < NUM_NOTES; n += 3)
                                 s.ReleaseNote(n);
                         return MAX_FRAMES;
                     }});
    return cases;
}

std::string Bits(float v)
{
    uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    char text[64];
    std::snprintf(text, sizeof text, "%.9g (0x%08x)", static_cast<double>(v), u);
    return text;
}

// Compares everything the render produces or owns; returns false on the first
// difference, with a message saying where.
::testing::AssertionResult SameRender(const SynthState& ref, const float* refOut, const SynthState& fast,
                                      const float* fastOut, unsigned frames)
{
    for (unsigned i = 0; i < 2 * frames; ++i)
        if (std::memcmp(&refOut[i], &fastOut[i], sizeof(float)) != 0)
            return ::testing::AssertionFailure()
                   << "sample " << i << ": reference " << Bits(refOut[i]) << ", fast " << Bits(fastOut[i]);
    const auto& refPhase = Access::PartialPhase(ref);
    const auto& fastPhase = Access::PartialPhase(fast);
    for (int n = 0; n < NUM_NOTES; ++n) {
        if (std::memcmp(refPhase[n], fastPhase[n], sizeof refPhase[n]) != 0)
            for (int h = 0; h < NUM_PARTIALS; ++h)
                if (std::memcmp(&refPhase[n][h], &fastPhase[n][h], sizeof(float)) != 0)
                    return ::testing::AssertionFailure()
                           << "phase of note " << n << " partial " << h << ": reference "
                           << Bits(refPhase[n][h]) << ", fast " << Bits(fastPhase[n][h]);
        if (Access::NoteSamples(ref)[n] != Access::NoteSamples(fast)[n] ||
            Access::ReleaseSamples(ref)[n] != Access::ReleaseSamples(fast)[n])
            return ::testing::AssertionFailure() << "counters of note " << n;
        if (ref.IsNoteHeld(n) != fast.IsNoteHeld(n) || ref.IsNoteReleasing(n) != fast.IsNoteReleasing(n))
            return ::testing::AssertionFailure() << "flags of note " << n;
    }
    if (std::memcmp(&Access::LfoPhase(ref), &Access::LfoPhase(fast), sizeof(float)) != 0)
        return ::testing::AssertionFailure() << "LFO phase " << Bits(Access::LfoPhase(ref)) << " vs "
                                             << Bits(Access::LfoPhase(fast));
    const float rp[2] = {ref.LeftPeak(), ref.RightPeak()};
    const float fp[2] = {fast.LeftPeak(), fast.RightPeak()};
    if (std::memcmp(rp, fp, sizeof rp) != 0)
        return ::testing::AssertionFailure() << "peaks";
    if (ref.BuffersRendered() != fast.BuffersRendered())
        return ::testing::AssertionFailure() << "buffer count";
    return ::testing::AssertionSuccess();
}

// The hook: wait (bounded) until the helper has stopped, so the take-over
// starts exactly where the helper's note limit put it.
void WaitForHelper(RenderSplit& split, void*)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!RenderSplitTestAccess::HelperIdle(split) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

// Waits outside the render until the helper has finished with the last buffer.
void WaitUntilIdle(const RenderSplit& split)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!RenderSplitTestAccess::HelperIdle(split) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(50));
}

// Case, variant and the engine's sample rate.
class FastRenderExactness : public ::testing::TestWithParam<std::tuple<int, RenderVariant, int32_t>> {};

TEST_P(FastRenderExactness, MatchesReferenceBufferByBuffer)
{
    const ExactCase c = Cases()[static_cast<size_t>(std::get<0>(GetParam()))];
    const RenderVariant variant = std::get<1>(GetParam());
    if (!RenderVariantSupported(variant))
        GTEST_SKIP() << RenderVariantName(variant) << " is not supported by this processor";

    auto ref = std::make_unique<SynthState>();
    auto fast = std::make_unique<SynthState>();
    ref->SetSampleRate(std::get<2>(GetParam()));
    fast->SetSampleRate(std::get<2>(GetParam()));
    std::vector<float> refOut(2 * MAX_FRAMES), fastOut(2 * MAX_FRAMES);
    bool sound = false;
    for (int b = 0; b < c.buffers; ++b) {
        const unsigned frames = c.step(*ref, b);
        ASSERT_EQ(c.step(*fast, b), frames);
        // Stale data in the buffers must not matter.
        std::fill(refOut.begin(), refOut.end(), 7.0f);
        std::fill(fastOut.begin(), fastOut.end(), -3.0f);
        Access::RenderBuffer(*ref, refOut.data(), frames);
        RenderWith(*fast, variant, fastOut.data(), frames);
        ASSERT_TRUE(SameRender(*ref, refOut.data(), *fast, fastOut.data(), frames)) << "buffer " << b;
        for (unsigned i = 0; i < 2 * frames; ++i)
            sound = sound || refOut[i] != 0.0f;
    }
    EXPECT_EQ(sound, c.expectSound) << "the case does not exercise what it names";
}

std::string CaseName(const ::testing::TestParamInfo<std::tuple<int, RenderVariant, int32_t>>& info)
{
    const int32_t rate = std::get<2>(info.param);
    return std::string(Cases()[static_cast<size_t>(std::get<0>(info.param))].name) + "_" +
           RenderVariantName(std::get<1>(info.param)) + (rate == SAMPLE_RATE ? "" : "_" + std::to_string(rate));
}

// The index of a case by name.
int CaseIndex(const char* name)
{
    const std::vector<ExactCase> cases = Cases();
    for (size_t i = 0; i < cases.size(); ++i)
        if (std::strcmp(cases[i].name, name) == 0)
            return static_cast<int>(i);
    return -1;
}

const auto kAllVariants = ::testing::Values(RenderVariant::Baseline, RenderVariant::Avx2, RenderVariant::Avx512,
                                            RenderVariant::Split, RenderVariant::Portable);

INSTANTIATE_TEST_SUITE_P(AllCases, FastRenderExactness,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(Cases().size())), kAllVariants,
                                            ::testing::Values(SAMPLE_RATE)),
                         CaseName);

// Other rates move every increment, the fastest partials' furthest at the
// lowest rates: the cases that reach the extremes, and a random mixture.
INSTANTIATE_TEST_SUITE_P(OtherRates, FastRenderExactness,
                         ::testing::Combine(::testing::Values(CaseIndex("TopNoteTopPartialBothWheelEnds"),
                                                              CaseIndex("HighNotesBentUp"), CaseIndex("PitchWheel0"),
                                                              CaseIndex("BandLimitSparseSweep"),
                                                              CaseIndex("ReleasesEndMidBuffer"),
                                                              CaseIndex("NotesBetweenBuffers")),
                                            kAllVariants, ::testing::Values(8000, 22050, 48000, 96000, 192000)),
                         CaseName);

TEST(FastRender, DispatchPicksTheKernelByTheProcessorsFeatures)
{
    // What the processor was found to have is what it is said to run.
    const ProcessorFeatures here = ThisProcessor();
    EXPECT_EQ(here.x86, RenderVariantSupported(RenderVariant::Baseline));
    EXPECT_EQ(here.x86 && here.avx2, RenderVariantSupported(RenderVariant::Avx2));
    EXPECT_EQ(here.x86 && here.avx512, RenderVariantSupported(RenderVariant::Avx512));
    const RenderVariant chosen = FastestRenderVariant();
    EXPECT_EQ(chosen, KernelForFeatures(here));
    EXPECT_TRUE(RenderVariantSupported(chosen));
    EXPECT_NE(chosen, RenderVariant::Reference);
    EXPECT_TRUE(RenderVariantSupported(RenderVariant::Portable));
#if !defined(__x86_64__) && !defined(__i386__)
    // No vector kernel is built: the portable one runs.
    EXPECT_FALSE(here.x86);
    EXPECT_EQ(chosen, RenderVariant::Portable);
#endif

    // The choice from the features: the widest set, but AVX2 on a core that
    // slows for 512-bit work.
    struct Choice {
        ProcessorFeatures features;
        RenderVariant expected;
    };
    const Choice choices[] = {
        {{true, true, true, false}, RenderVariant::Avx512},
        {{true, true, true, true}, RenderVariant::Avx2},
        {{true, true, false, false}, RenderVariant::Avx2},
        {{true, false, false, false}, RenderVariant::Baseline},
        {{true, false, true, false}, RenderVariant::Avx512},
        {{true, false, true, true}, RenderVariant::Baseline},
        {{false, false, false, false}, RenderVariant::Portable},
        {{false, true, true, false}, RenderVariant::Portable}, // no vector kernel built
    };
    for (const Choice& c : choices)
        EXPECT_EQ(KernelForFeatures(c.features), c.expected)
            << c.features.x86 << c.features.avx2 << c.features.avx512 << c.features.wideSlows;

    // The program renders on two threads wherever there are two cores.
    EXPECT_EQ(ChosenRenderVariant(), RenderVariantSupported(RenderVariant::Split) ? RenderVariant::Split : chosen);
    auto s = std::make_unique<SynthState>();
    EXPECT_EQ(s->HasHelperThread(), RenderVariantSupported(RenderVariant::Split));
}

// ---- The two-thread render's hand-over, made to happen at known points ----

// How the helper is to behave in one buffer.
enum class Helper {
    Free,           // as it comes: no hook
    Finishes,       // the audio thread waits (in the test hook) until the helper is done with every note
    StopsAfter0,    // the helper publishes no note: the audio thread takes over all
    StopsAfter1,    // one note, then the audio thread takes over the rest
    StopsAfter5,
    HeldTwoBuffers, // the helper does not start: this buffer taken over, the next rendered alone
};

class SplitHandOver : public ::testing::TestWithParam<std::tuple<Helper, RenderVariant>> {};

TEST_P(SplitHandOver, MatchesReferenceWhereverTheHelperStops)
{
    const Helper mode = std::get<0>(GetParam());
    const RenderVariant kernel = std::get<1>(GetParam());
    if (!RenderVariantSupported(kernel))
        GTEST_SKIP() << RenderVariantName(kernel) << " is not supported by this processor";
    auto ref = std::make_unique<SynthState>();
    auto fast = std::make_unique<SynthState>();
    if (!Access::Split(*fast))
        GTEST_SKIP() << "one core: no helper thread";
    RenderSplit& split = *Access::Split(*fast);

    // Ten notes in two groups, a release ending mid-buffer, frame counts that
    // end inside a tile, and a spectrum change part-way, with the band limit
    // on from then (the high notes rendering fewer partials, the top ones
    // none) until it goes off again.
    const unsigned counts[] = {256, 200, 64, 255, 130, 256};
    std::vector<float> refOut(2 * MAX_FRAMES), fastOut(2 * MAX_FRAMES);
    for (int b = 0; b < 12; ++b) {
        for (SynthState* s : {ref.get(), fast.get()}) {
            if (b == 0) {
                FirstPartials(*s, 45);
                s->SetParameter(ParamId::Release, 9);
                for (int n : {21, 33, 45, 57, 69, 81, 93, 105, 117, 127})
                    s->StartNote(n);
            }
            if (b == 4)
                s->ReleaseNote(57);
            if (b == 7) {
                FirstPartials(*s, 128);
                s->SetPitchWheel(12000.0f);
                s->SetParameter(ParamId::BandLimit, 1.0f);
            }
            if (b == 10)
                s->SetParameter(ParamId::BandLimit, 0.0f);
        }
        const unsigned frames = counts[b % 6];
        const RenderSplitStats before = split.Stats();
        RenderSplitTestAccess::HelperNoteLimit(split) = mode == Helper::StopsAfter0 ? 0
                                : mode == Helper::StopsAfter1 ? 1
                                : mode == Helper::StopsAfter5 ? 5
                                                              : -1;
        const bool hook = mode != Helper::Free && mode != Helper::HeldTwoBuffers;
        RenderSplitTestAccess::BeforeTakeOver(split) = hook ? WaitForHelper : nullptr;
        // A helper may still be finishing a note the audio thread took over in
        // the last buffer; the outcomes below are for a helper that is free.
        const bool stillHeld = mode == Helper::HeldTwoBuffers && b % 3 == 1;
        if (mode != Helper::Free && !stillHeld)
            WaitUntilIdle(split);
        if (mode == Helper::HeldTwoBuffers && b % 3 == 0)
            RenderSplitTestAccess::HoldHelper(split) = true;

        Access::RenderBuffer(*ref, refOut.data(), frames);
        RenderSplitWith(*fast, kernel, fastOut.data(), frames);
        ASSERT_TRUE(SameRender(*ref, refOut.data(), *fast, fastOut.data(), frames)) << "buffer " << b;

        const RenderSplitStats after = split.Stats();
        int sounding = 0;
        for (int n = 0; n < NUM_NOTES; ++n)
            sounding += ref->IsNoteSounding(n) || (b == 4 && n == 57);
        ASSERT_GE(sounding, 9);
        const uint64_t finished = after.helperFinished - before.helperFinished;
        const uint64_t takenOver = after.takenOver - before.takenOver;
        const uint64_t notes = after.notesTakenOver - before.notesTakenOver;
        switch (mode) {
        case Helper::Free:
            EXPECT_EQ(finished + takenOver + (after.alone - before.alone), 1u) << "buffer " << b;
            break;
        case Helper::Finishes:
            EXPECT_EQ(finished, 1u) << "buffer " << b;
            break;
        case Helper::StopsAfter0:
        case Helper::StopsAfter1:
        case Helper::StopsAfter5: {
            const uint64_t limit = mode == Helper::StopsAfter0 ? 0 : mode == Helper::StopsAfter1 ? 1 : 5;
            EXPECT_EQ(takenOver, 1u) << "buffer " << b;
            // Notes that sounded at the start of the buffer, less those the helper did.
            EXPECT_GE(notes + limit, 9u) << "buffer " << b;
            EXPECT_LE(notes + limit, 10u) << "buffer " << b;
            break;
        }
        case Helper::HeldTwoBuffers:
            if (b % 3 == 0) {
                EXPECT_EQ(takenOver, 1u) << "buffer " << b;
                EXPECT_GE(notes, 9u) << "the held helper published nothing";
            } else if (b % 3 == 1) {
                EXPECT_EQ(after.alone - before.alone, 1u) << "the helper is still held: one thread renders";
                RenderSplitTestAccess::HoldHelper(split) = false;
                WaitUntilIdle(split);
            }
            break;
        }
    }
    RenderSplitTestAccess::HoldHelper(split) = false;
    RenderSplitTestAccess::BeforeTakeOver(split) = nullptr;
    RenderSplitTestAccess::HelperNoteLimit(split) = -1;
}

std::string HandOverName(const ::testing::TestParamInfo<std::tuple<Helper, RenderVariant>>& info)
{
    static const char* const names[] = {"Free", "Finishes", "StopsAfter0", "StopsAfter1", "StopsAfter5",
                                        "HeldTwoBuffers"};
    return std::string(names[static_cast<int>(std::get<0>(info.param))]) + "_" +
           RenderVariantName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(AllKernels, SplitHandOver,
                         ::testing::Combine(::testing::Values(Helper::Free, Helper::Finishes, Helper::StopsAfter0,
                                                              Helper::StopsAfter1, Helper::StopsAfter5,
                                                              Helper::HeldTwoBuffers),
                                            ::testing::Values(RenderVariant::Baseline, RenderVariant::Avx2,
                                                              RenderVariant::Avx512, RenderVariant::Portable)),
                         HandOverName);

// The helper can finish a whole buffer: every note, the last one included, is
// published before the audio thread renders its own frames of the last note.
// The hook holds the audio thread there until the helper is done (bounded).
TEST(SplitHandOver, HelperCanFinishBeforeTheAudioThreadEnds)
{
    auto ref = std::make_unique<SynthState>();
    auto fast = std::make_unique<SynthState>();
    if (!Access::Split(*fast))
        GTEST_SKIP() << "one core: no helper thread";
    RenderSplit& split = *Access::Split(*fast);
    RenderSplitTestAccess::BeforeLastFrames(split) = [](RenderSplit& r, void*) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!RenderSplitTestAccess::HelperIdle(r) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    };
    for (SynthState* s : {ref.get(), fast.get()}) {
        FirstPartials(*s, 64);
        for (int n : {30, 42, 54, 66, 78})
            s->StartNote(n);
    }
    std::vector<float> refOut(2 * MAX_FRAMES), fastOut(2 * MAX_FRAMES);
    for (int b = 0; b < 4; ++b) {
        WaitUntilIdle(split);
        const RenderSplitStats before = split.Stats();
        Access::RenderBuffer(*ref, refOut.data(), MAX_FRAMES);
        RenderWith(*fast, RenderVariant::Split, fastOut.data(), MAX_FRAMES);
        ASSERT_TRUE(SameRender(*ref, refOut.data(), *fast, fastOut.data(), MAX_FRAMES)) << "buffer " << b;
        EXPECT_EQ(split.Stats().helperFinished - before.helperFinished, 1u) << "buffer " << b;
    }
    RenderSplitTestAccess::BeforeLastFrames(split) = nullptr;
}

// With 40 notes the last 10 go to the helper first and it moves their phases
// itself; wherever it stops, before them or among them, the audio thread
// takes over from its own phases of those notes.
TEST(SplitHandOver, TakesOverAmongTheLastNotes)
{
    const RenderVariant kernels[] = {RenderVariant::Baseline, RenderVariant::Avx2, RenderVariant::Avx512,
                                     RenderVariant::Portable};
    for (const RenderVariant kernel : kernels) {
        if (!RenderVariantSupported(kernel))
            continue;
        auto ref = std::make_unique<SynthState>();
        auto fast = std::make_unique<SynthState>();
        if (!Access::Split(*fast))
            GTEST_SKIP() << "one core: no helper thread";
        RenderSplit& split = *Access::Split(*fast);
        RenderSplitTestAccess::BeforeTakeOver(split) = WaitForHelper;
        for (SynthState* s : {ref.get(), fast.get()}) {
            FirstPartials(*s, 50);
            for (int n = 40; n < 80; ++n)
                s->StartNote(n);
        }
        std::vector<float> refOut(2 * MAX_FRAMES), fastOut(2 * MAX_FRAMES);
        for (const int limit : {28, 29, 30, 31, 32, 35, 38, 39, 40}) {
            WaitUntilIdle(split);
            RenderSplitTestAccess::HelperNoteLimit(split) = limit;
            const RenderSplitStats before = split.Stats();
            Access::RenderBuffer(*ref, refOut.data(), MAX_FRAMES);
            RenderSplitWith(*fast, kernel, fastOut.data(), MAX_FRAMES);
            ASSERT_TRUE(SameRender(*ref, refOut.data(), *fast, fastOut.data(), MAX_FRAMES))
                << RenderVariantName(kernel) << ", helper stopped after " << limit;
            const RenderSplitStats after = split.Stats();
            EXPECT_EQ(after.notesTakenOver - before.notesTakenOver, static_cast<uint64_t>(40 - limit))
                << RenderVariantName(kernel) << ", helper stopped after " << limit;
        }
        RenderSplitTestAccess::BeforeTakeOver(split) = nullptr;
        RenderSplitTestAccess::HelperNoteLimit(split) = -1;
    }
}

// Each note kernel alone against the reference's partial loop, for partial
// counts that fill and part-fill every group of blocks and buffer lengths that
// fill and part-fill the tiles: a table of arbitrary values, read where the
// phases point (the kernel must not take the mirrored reads there), and the
// engine's sine, read through its mirror.
TEST(FastRender, KernelsReadTheTableTheyAreGiven)
{
    struct Kernel {
        RenderVariant variant;
        void (*render)(const marovane_fast::NoteKernelArgs&);
    };
    const Kernel kernels[] = {
#if defined(__x86_64__) || defined(__i386__)
        {RenderVariant::Baseline, marovane_fast::RenderNoteBaseline},
        {RenderVariant::Avx2, marovane_fast::RenderNoteAvx2},
        {RenderVariant::Avx512, marovane_fast::RenderNoteAvx512},
#endif
        {RenderVariant::Portable, marovane_fast::RenderNotePortable},
    };
    std::mt19937 random(19);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<float> arbitrary(WAVE_TABLE_LENGTH);
    for (float& v : arbitrary)
        v = 2.0f * unit(random) - 1.0f;
    ASSERT_FALSE(IsHalfMirrored(arbitrary.data()));
    const WaveTable waves;
    ASSERT_TRUE(waves.SineHalfMirrored());
    struct Table {
        const char* name;
        const float* values;
        bool mirrored;
    };
    const Table tables[] = {{"arbitrary", arbitrary.data(), false}, {"sine", waves.Shape(0), true}};

    constexpr int kPadded = RenderSplit::kPadded;
    alignas(64) float phase[kPadded], level[kPadded], gain[RenderSplit::kGainPadded], mix[RenderSplit::kGainPadded];
    alignas(64) double inc[kPadded];
    float startPhase[kPadded], expected[MAX_FRAMES], expectedPhase[kPadded];
    for (const Kernel& kernel : kernels) {
        if (!RenderVariantSupported(kernel.variant))
            continue;
        for (const Table& table : tables)
            for (int partials : {1, 16, 17, 40, 64, 100, 128})
                for (unsigned frames : {1u, 15u, 16u, 17u, 100u, 256u}) {
                    SCOPED_TRACE(std::string(RenderVariantName(kernel.variant)) + ", " + table.name + " table, " +
                                 std::to_string(partials) + " partials, " + std::to_string(frames) + " frames");
                    std::fill(std::begin(phase), std::end(phase), 0.0f);
                    std::fill(std::begin(level), std::end(level), 0.0f);
                    std::fill(std::begin(inc), std::end(inc), 0.0);
                    std::fill(std::begin(gain), std::end(gain), 0.0f);
                    for (int k = 0; k < partials; ++k) {
                        phase[k] = startPhase[k] = 3.0f * unit(random);
                        inc[k] = 0.6 * unit(random);
                        level[k] = unit(random);
                    }
                    for (unsigned i = 0; i < RenderSplit::kGainPadded; ++i) {
                        gain[i] = i < frames ? unit(random) : 0.0f;
                        mix[i] = unit(random) - 0.5f;
                    }
                    std::copy(mix, mix + frames, expected);
                    for (int k = 0; k < partials; ++k) {
                        float p = startPhase[k];
                        for (unsigned i = 0; i < frames; ++i) {
                            while (p >= 1.0f)
                                p -= 1.0f;
                            expected[i] += level[k] * table.values[static_cast<int>(p * 32768)] * gain[i];
                            p = static_cast<float>(p + inc[k]);
                        }
                        expectedPhase[k] = p;
                    }
                    kernel.render(marovane_fast::NoteKernelArgs{table.values, table.mirrored, phase, inc, level, gain,
                                                                mix, partials, frames});
                    ASSERT_EQ(std::memcmp(mix, expected, sizeof(float) * frames), 0);
                    ASSERT_EQ(std::memcmp(phase, expectedPhase, sizeof(float) * static_cast<size_t>(partials)), 0);
                }
    }
}

// A kernel that starts on the next note while it finishes one renders each
// note as it does alone: four notes in a row, with and without the carry,
// over partial counts it carries across (whole runs of blocks) and counts it
// does not. A note of one run (16 partials for SSE2, 32 for AVX2) over an odd
// number of tiles leaves the next note's positions in the second index tile.
// With the band limit on, notes one after another render different counts
// (none at all, even): a kernel carries only to a note of the same count.
TEST(FastRender, ChainedNotesMatchNotesAlone)
{
    struct Kernel {
        RenderVariant variant;
        void (*render)(const marovane_fast::NoteKernelArgs&);
        void (*chain)(const marovane_fast::NoteKernelArgs&, const marovane_fast::NoteKernelArgs*,
                      marovane_fast::KernelCarry&);
    };
    std::vector<Kernel> kernels;
#if defined(__x86_64__) || defined(__i386__)
    kernels.push_back(
        {RenderVariant::Baseline, marovane_fast::RenderNoteBaseline, marovane_fast::RenderNoteChainBaseline});
    kernels.push_back({RenderVariant::Avx2, marovane_fast::RenderNoteAvx2, marovane_fast::RenderNoteChainAvx2});
    kernels.push_back({RenderVariant::Avx512, marovane_fast::RenderNoteAvx512, marovane_fast::RenderNoteChainAvx512});
#endif
    if (kernels.empty())
        GTEST_SKIP() << "no kernel carries from note to note here";
    const WaveTable waves;
    std::mt19937 random(23);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    constexpr int kNotes = 4;
    constexpr int kPadded = RenderSplit::kPadded;
    struct Note {
        alignas(64) float phase[kPadded];
        alignas(64) float level[kPadded];
        alignas(64) double inc[kPadded];
        alignas(64) float gain[RenderSplit::kGainPadded];
    };
    std::vector<Note> alone(kNotes), chained(kNotes);
    alignas(64) float mixAlone[RenderSplit::kGainPadded], mixChained[RenderSplit::kGainPadded];
    // The partials of each of the four notes.
    const std::vector<std::array<int, kNotes>> sequences = {
        {16, 16, 16, 16},     {32, 32, 32, 32},   {50, 50, 50, 50},    {64, 64, 64, 64},  {100, 100, 100, 100},
        {120, 120, 120, 120}, {128, 128, 128, 128}, {128, 64, 64, 128}, {64, 128, 128, 32}, {64, 0, 64, 64},
        {128, 120, 128, 128}, {32, 64, 0, 0},
    };
    for (const Kernel& kernel : kernels)
    for (const std::array<int, kNotes>& counts : sequences)
        for (const unsigned frames : {1u, 15u, 16u, 17u, 100u, 256u}) {
            if (!RenderVariantSupported(kernel.variant))
                continue;
            SCOPED_TRACE(std::string(RenderVariantName(kernel.variant)) + ", " + std::to_string(counts[0]) + " " +
                         std::to_string(counts[1]) + " " + std::to_string(counts[2]) + " " +
                         std::to_string(counts[3]) + " partials, " + std::to_string(frames) + " frames");
            for (int j = 0; j < kNotes; ++j) {
                Note& n = alone[static_cast<size_t>(j)];
                std::memset(&n, 0, sizeof n);
                for (int k = 0; k < counts[static_cast<size_t>(j)]; ++k) {
                    n.phase[k] = 3.0f * unit(random);
                    n.inc[k] = 0.6 * unit(random);
                    n.level[k] = unit(random);
                }
                for (unsigned i = 0; i < frames; ++i)
                    n.gain[i] = unit(random);
            }
            chained = alone;
            for (unsigned i = 0; i < RenderSplit::kGainPadded; ++i)
                mixAlone[i] = mixChained[i] = unit(random) - 0.5f;
            const auto args = [&](std::vector<Note>& notes, int j, float* mix) {
                Note& n = notes[static_cast<size_t>(j)];
                return marovane_fast::NoteKernelArgs{waves.Shape(0), true,  n.phase,
                                                     n.inc,          n.level, n.gain,
                                                     mix,            counts[static_cast<size_t>(j)], frames};
            };
            marovane_fast::KernelCarry carry;
            for (int j = 0; j < kNotes; ++j) {
                kernel.render(args(alone, j, mixAlone));
                const marovane_fast::NoteKernelArgs next =
                    j + 1 < kNotes ? args(chained, j + 1, mixChained) : marovane_fast::NoteKernelArgs{};
                kernel.chain(args(chained, j, mixChained), j + 1 < kNotes ? &next : nullptr, carry);
                ASSERT_EQ(std::memcmp(alone[j].phase, chained[j].phase, sizeof(float) * kPadded), 0) << "note " << j;
                // All carry across whole runs of four blocks (64 and 128
                // partials), to a note of the same count only.
                const int count = counts[static_cast<size_t>(j)];
                if (count == 64 || count == 128) {
                    EXPECT_EQ(carry.primed, j + 1 < kNotes && counts[static_cast<size_t>(j) + 1] == count)
                        << "note " << j;
                }
            }
            ASSERT_EQ(std::memcmp(mixAlone, mixChained, sizeof(float) * frames), 0);
        }
}

// What the audio callback and marovane-render call agrees with the reference.
TEST(FastRender, RenderCallMatchesReference)
{
    auto ref = std::make_unique<SynthState>();
    auto fast = std::make_unique<SynthState>();
    for (SynthState* s : {ref.get(), fast.get()}) {
        FirstPartials(*s, 128);
        for (int n = 20; n < 110; n += 3)
            s->StartNote(n);
    }
    std::vector<float> a(2 * MAX_FRAMES), b(2 * MAX_FRAMES);
    for (int k = 0; k < 10; ++k) {
        Access::RenderBuffer(*ref, a.data(), MAX_FRAMES);
        Access::Render(*fast, b.data(), MAX_FRAMES);
        ASSERT_TRUE(SameRender(*ref, a.data(), *fast, b.data(), MAX_FRAMES)) << "buffer " << k;
    }
}

// Levels so small that the products are denormal: a thread that flushes
// denormals to zero must still get the reference's sound, and keep its own
// floating-point state afterwards.
TEST(FastRender, FixedFloatingPointEnvironment)
{
    for (RenderVariant variant : kAllRenderVariants) {
        if (!RenderVariantSupported(variant))
            continue;
        SCOPED_TRACE(RenderVariantName(variant));
        auto ref = std::make_unique<SynthState>();
        // Made while flushing: the helper thread starts with the creator's state.
        const marovane_fp::Control creator = marovane_fp::Get();
        marovane_fp::Set(Flushing(creator));
        auto fast = std::make_unique<SynthState>();
        marovane_fp::Set(creator);
        // The helper is given time to do its frames: one note alone would
        // always be taken over.
        if (variant == RenderVariant::Split && Access::Split(*fast))
            RenderSplitTestAccess::BeforeTakeOver(*Access::Split(*fast)) = WaitForHelper;
        for (SynthState* s : {ref.get(), fast.get()}) {
            SetSpectraByRule(
                *s, [](int h) { return 3e-39f * static_cast<float>(h + 1); }, [](int h) { return 1e-38f / static_cast<float>(h + 1); });
            s->SetParameter(ParamId::Attack, 10);
            s->StartNote(60);
        }
        std::vector<float> a(2 * MAX_FRAMES), b(2 * MAX_FRAMES);
        bool denormal = false;
        for (int k = 0; k < 4; ++k) {
            Access::RenderBuffer(*ref, a.data(), MAX_FRAMES);
            const marovane_fp::Control saved = marovane_fp::Get();
            marovane_fp::Set(Flushing(saved));
            RenderWith(*fast, variant, b.data(), MAX_FRAMES);
            const marovane_fp::Control after = marovane_fp::Get();
            marovane_fp::Set(saved);
            EXPECT_EQ(after, Flushing(saved));
            ASSERT_TRUE(SameRender(*ref, a.data(), *fast, b.data(), MAX_FRAMES)) << "buffer " << k;
            for (float v : a)
                denormal = denormal || std::fpclassify(v) == FP_SUBNORMAL;
        }
        EXPECT_TRUE(denormal) << "the case produced no denormal samples";
        if (variant == RenderVariant::Split && Access::Split(*fast)) {
            EXPECT_EQ(fast->SplitStats().helperFinished, 4u) << "the helper rendered its frames";
        }
    }
}

// The vectorised render wraps a phase with p - floor(p) (floor by rounding, or
// by truncation where SSE2 has no floor) where the reference subtracts 1.0
// until the phase is below 1. The fastest partial (128 x the highest note bent
// up two semitones) moves fastest at the lowest rate the engine accepts, so
// the phases checked must reach past its increment there.
TEST(FastRender, WrapCoversTheFastestPartialAtEveryRate)
{
    for (int32_t rate : {1000, 8000, 22050, 44100, 192000}) {
        auto s = std::make_unique<SynthState>();
        s->SetSampleRate(rate);
        s->SetPitchWheel(16383.0f);
        Access::BeginBuffer(*s);
        const double fastest = Access::PartialIncrement(*s, NUM_PARTIALS - 1, Access::BentFrequency(*s, NUM_NOTES - 1));
        // A wrapped phase is below 1; the next is below 1 + the increment.
        EXPECT_LT(fastest + 1.0, kWrapCheckedBelow) << rate << " Hz";
    }
}

// Repeated subtraction and p - floor(p) give the same float: exhaustively
// for every float below 64, and above that (where the reference's loop takes
// up to 2^11 steps) for 4096 floats spread over each binade with both ends.
TEST(FastRender, WrapEqualsRepeatedSubtractionForEveryReachablePhase)
{
    uint32_t differ = 0;
    const auto check = [&differ](float p) {
        float q = p;
        while (q >= 1.0f)
            q -= 1.0f;
        const float byFloor = p - std::floor(p);
        const float byTruncation = p - static_cast<float>(static_cast<int32_t>(p));
        differ += std::memcmp(&q, &byFloor, sizeof q) != 0;
        differ += std::memcmp(&q, &byTruncation, sizeof q) != 0;
    };
    const auto bits = [](float v) {
        uint32_t u;
        std::memcpy(&u, &v, sizeof u);
        return u;
    };
    const auto value = [](uint32_t u) {
        float v;
        std::memcpy(&v, &u, sizeof v);
        return v;
    };
    for (uint32_t u = 0; u < bits(64.0f); ++u)
        check(value(u));
    uint32_t checked = 0;
    for (float low = 64.0f; low < kWrapCheckedBelow; low *= 2.0f) {
        const uint32_t first = bits(low), last = bits(2.0f * low) - 1;
        for (uint32_t u = first; u <= last; u += (last - first) / 4095) {
            check(value(u));
            ++checked;
        }
        check(value(last));
    }
    EXPECT_GE(checked, 4096u);
    EXPECT_EQ(differ, 0u);
}

} // namespace
