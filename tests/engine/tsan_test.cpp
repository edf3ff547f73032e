// One thread renders buffers while others play notes, move the wheels, store
// parameters and copy spectra, as the audio, MIDI and GUI threads do. Built
// with ThreadSanitizer: any data race fails the run.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "synth/Engine.h"
#include "synth/RenderFast.h"
#include "synth/RenderSplit.h"
#include "synth/SynthState.h"
#include "support/EngineTestAccess.h"

TEST(Sharing, RenderWhileOtherThreadsPlayAndEdit)
{
    auto s = std::make_unique<SynthState>();
    std::atomic<bool> stop{false};
    std::atomic<long> buffers{0};

    std::thread audio([&] {
        float out[2 * MAX_FRAMES];
        while (!stop.load()) {
            SynthStateTestAccess::Render(*s, out, MAX_FRAMES);
            buffers.fetch_add(1);
        }
    });
    std::thread midi([&] {
        unsigned n = 0;
        while (!stop.load()) {
            const int note = static_cast<int>(n++ % 128);
            s->SetNoteVelocity(note, SynthState::VelocityFromMidi(static_cast<int>(n % 127) + 1));
            s->StartNote(note);
            s->SetPitchWheel(static_cast<float>(n % 16384));
            if (n % 3 == 0)
                s->ReleaseNote(static_cast<int>((n * 7) % 128));
        }
    });
    std::thread gui([&] {
        HarmonicSpectrum a{}, b{};
        unsigned n = 0;
        while (!stop.load()) {
            ++n;
            for (int h = 0; h < NUM_PARTIALS; ++h) {
                a.level[h] = (n + h) % 5 ? 0.0f : 0.01f;
                b.level[h] = (n + h) % 3 ? 0.0f : 0.02f;
            }
            s->SetSpectra(a.level, b.level);
            s->SetParameter(ParamId::Attack, static_cast<int32_t>(n % 50));
            s->SetParameter(ParamId::Decay, static_cast<int32_t>(n % 70));
            s->SetParameter(ParamId::Sustain, static_cast<int32_t>(n % 101));
            s->SetParameter(ParamId::Release, static_cast<int32_t>(n % 30));
            s->SetParameter(ParamId::LfoFrequency, static_cast<float>(n % 200) / 10);
            s->SetLfoWaveform(static_cast<int>(n % 7));
            s->SetModWheelDepth(SynthState::ModWheelDepthFromValue(static_cast<int>(n % 16384)));
            s->StartNote(static_cast<int>(n % 60) + 24);
            s->ReleaseNote(static_cast<int>((n + 30) % 60) + 24);
            // A whole sound at once (undo, a patch load).
            if (n % 4 == 0) {
                Sound whole = s->CurrentSound();
                whole.sustain.level[n % NUM_PARTIALS] = 0.03f;
                whole.attackMs = static_cast<int32_t>(n % 20);
                s->SetSound(whole);
            }
            // A tuning handed over whole, some keys silent; then none again.
            if (n % 5 == 0) {
                double frequency[NUM_NOTES];
                bool sounds[NUM_NOTES];
                for (int k = 0; k < NUM_NOTES; ++k) {
                    frequency[k] = 20.0 + k * (10.0 + n % 7);
                    sounds[k] = (k + n) % 9 != 0;
                }
                s->SetTuning(frequency, sounds);
            } else if (n % 7 == 0) {
                s->SetEqualTuning();
            }
            (void)s->KeyFrequency(static_cast<int>(n % 128));
            // What the window reads for its display.
            (void)s->LeftPeak();
            (void)s->TakeLeftMaxPeak();
            (void)s->TakeRightMaxPeak();
            (void)s->IsKeyDown(60);
            (void)s->AnyNoteActive();
            (void)s->Attack();
        }
    });

    std::this_thread::sleep_for(std::chrono::seconds(3));
    stop = true;
    audio.join();
    midi.join();
    gui.join();
    EXPECT_GT(buffers.load(), 10);

    // Everything let go: the render brings every note to silence.
    for (int n = 0; n < NUM_NOTES; ++n)
        s->ReleaseNote(n);
    float out[2 * MAX_FRAMES];
    s->SetParameter(ParamId::Release, 10);
    for (int b = 0; b < 10; ++b)
        SynthStateTestAccess::Render(*s, out, MAX_FRAMES);
    EXPECT_FALSE(s->AnyNoteActive());
}

// The two-thread render under the race detector: while other threads play
// notes and change the spectra, the audio thread renders on two threads and
// the helper is made to finish, to stop part-way, and to be late by a buffer,
// so that every hand-over between the two threads runs.
TEST(Sharing, TwoThreadRenderWhileOtherThreadsPlay)
{
    auto s = std::make_unique<SynthState>();
    if (!SynthStateTestAccess::Split(*s))
        GTEST_SKIP() << "one core: no helper thread";
    RenderSplit& split = *SynthStateTestAccess::Split(*s);
    std::atomic<bool> stop{false};

    std::thread midi([&] {
        unsigned n = 0;
        while (!stop.load()) {
            const int note = static_cast<int>(n++ % 128);
            s->StartNote(note);
            if (n % 2 == 0)
                s->ReleaseNote(static_cast<int>((n * 7) % 128));
            s->SetPitchWheel(static_cast<float>(n % 16384));
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    std::thread gui([&] {
        HarmonicSpectrum a{};
        unsigned n = 0;
        while (!stop.load()) {
            ++n;
            for (int h = 0; h < NUM_PARTIALS; ++h)
                a.level[h] = (n + h) % 4 ? 0.0f : 0.01f;
            s->SetSpectra(a.level, a.level);
            s->SetParameter(ParamId::Release, static_cast<int32_t>(n % 30));
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
    });

    // Waits (bounded) for the helper to finish with its buffer.
    const auto waitIdle = [](RenderSplit& r, void*) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!RenderSplitTestAccess::HelperIdle(r) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    };
    float out[2 * MAX_FRAMES];
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (unsigned b = 0; std::chrono::steady_clock::now() < end || b < 40; ++b) {
        RenderSplitTestAccess::HelperNoteLimit(split) = b % 5 == 2 ? 2 : -1;
        RenderSplitTestAccess::BeforeTakeOver(split) = b % 5 == 1 || b % 5 == 2 ? +waitIdle : nullptr;
        if (b % 5 == 1 || b % 5 == 2)
            waitIdle(split, nullptr);
        RenderSplitTestAccess::HoldHelper(split) = b % 5 == 3; // taken over whole; the next buffer alone
        if (b % 5 == 4) {
            RenderWith(*s, RenderVariant::Split, out, MAX_FRAMES);
            RenderSplitTestAccess::HoldHelper(split) = false;
            continue;
        }
        RenderWith(*s, RenderVariant::Split, out, MAX_FRAMES);
    }
    RenderSplitTestAccess::HoldHelper(split) = false;
    stop = true;
    midi.join();
    gui.join();
    const RenderSplitStats stats = split.Stats();
    EXPECT_GT(stats.helperFinished, 0u);
    EXPECT_GT(stats.takenOver, 0u);
    EXPECT_GT(stats.alone, 0u);
}

// Two engines in one process, as two instances of a plugin in one host: each
// renders on its own thread with its own sound, rate and messages (one with a
// helper thread, one without; both forms of the call), and each sounds sample
// for sample as it does rendered alone.
TEST(Sharing, TwoEnginesOnTwoThreads)
{
    constexpr int kBlocks = 24;
    constexpr uint32_t kFrames = 300; // off the grid: every block is cut
    auto soundOf = [](int which) {
        Sound s;
        s.attackMs = 5 + 20 * which;
        s.decayMs = 40;
        s.sustainPercent = 50 + 30 * which;
        s.releaseMs = 15;
        s.lfoWaveform = 2 * which;
        for (int h = which; h < 40; h += 1 + which) {
            s.attack.level[h] = 0.05f;
            s.sustain.level[h] = 0.02f * static_cast<float>(which + 1);
        }
        return s;
    };
    auto play = [&](int which) {
        auto engine = std::make_unique<Engine>(EngineOptions{which ? 48000 : 44100, which == 0});
        engine->Synth().SetSound(soundOf(which));
        std::vector<float> out(2 * kFrames * kBlocks);
        for (int b = 0; b < kBlocks; ++b) {
            const uint8_t note = static_cast<uint8_t>(36 + 12 * which + b % 9);
            const EngineEvent events[] = {
                {static_cast<uint32_t>((b * 37) % kFrames), 3, {0x90, note, static_cast<uint8_t>(60 + b)}},
                {static_cast<uint32_t>((b * 53) % kFrames), 3, {0xB0, 1, static_cast<uint8_t>(b * 5)}},
                {kFrames - 1, 3, {0x80, static_cast<uint8_t>(note - 2), 0}},
            };
            if ((b + which) % 2 == 0) {
                engine->RenderInterleaved(out.data() + 2 * kFrames * b, kFrames, events, std::size(events));
                continue;
            }
            float left[kFrames], right[kFrames];
            engine->Render(left, right, kFrames, events, std::size(events));
            for (uint32_t i = 0; i < kFrames; ++i) {
                out[2 * (kFrames * b + i)] = left[i];
                out[2 * (kFrames * b + i) + 1] = right[i];
            }
        }
        return out;
    };
    const std::vector<float> alone[] = {play(0), play(1)};
    std::vector<float> together[2];
    std::atomic<int> ready{0};
    auto run = [&](int which) {
        ready.fetch_add(1);
        while (ready.load() < 2) {
        }
        together[which] = play(which);
    };
    std::thread first(run, 0), second(run, 1);
    first.join();
    second.join();
    for (int which : {0, 1}) {
        ASSERT_EQ(together[which].size(), alone[which].size());
        EXPECT_EQ(std::memcmp(together[which].data(), alone[which].data(), alone[which].size() * sizeof(float)), 0)
            << "engine " << which;
    }
    // Two sounds, not one heard twice.
    EXPECT_NE(std::memcmp(alone[0].data(), alone[1].data(), alone[0].size() * sizeof(float)), 0);
}
