#include "SynthState.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

SynthState::SynthState()
{
    std::memset(partialPhase, 0, sizeof partialPhase);
    std::memset(noteSamples, 0, sizeof noteSamples);
    std::memset(releaseSamples, 0, sizeof releaseSamples);
    for (int n = 0; n < NUM_NOTES; ++n) {
        noteHeld[n] = false;
        noteReleasing[n] = false;
        noteVelocity[n] = 1.0f;
    }
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        attackSpectrum[h] = 0.0f;
        sustainSpectrum[h] = 0.0f;
    }
    attackSpectrum[0] = 0.5f;
    sustainSpectrum[0] = 0.5f;
}

void SynthState::StartNote(int note)
{
    if (note < 0 || note >= NUM_NOTES)
        return;
    uint8_t old = requests_[note].load(std::memory_order_relaxed);
    uint8_t next;
    do {
        if (old & kKeyDown)
            return; // already held: keeps its phases and time
        next = static_cast<uint8_t>(kKeyDown | kRestart);
    } while (!requests_[note].compare_exchange_weak(old, next, std::memory_order_release,
                                                    std::memory_order_relaxed));
}

void SynthState::ReleaseNote(int note)
{
    if (note < 0 || note >= NUM_NOTES)
        return;
    // A restart still pending stays pending: the note then starts from zero and
    // releases at once, as it would have had the render run in between.
    uint8_t old = requests_[note].load(std::memory_order_relaxed);
    uint8_t next;
    do {
        next = static_cast<uint8_t>((old & ~kKeyDown) | kRelease);
    } while (!requests_[note].compare_exchange_weak(old, next, std::memory_order_release,
                                                    std::memory_order_relaxed));
}

void SynthState::SetSampleRate(int32_t rate)
{
    if (rate < 1000 || rate > 768000)
        return;
    sampleRate = rate;
    msPerSample = 1000.0f / static_cast<float>(rate);
}

void SynthState::SetNoteVelocity(int note, float velocity)
{
    if (note >= 0 && note < NUM_NOTES)
        noteVelocity[note] = velocity;
}

void SynthState::SetLfoWaveform(int32_t shape)
{
    lfoWaveform_ = std::clamp<int32_t>(shape, 0, NUM_WAVEFORMS - 1);
}

void SynthState::SetSpectra(const float* attack, const float* sustain)
{
    if (attack)
        for (int h = 0; h < NUM_PARTIALS; ++h)
            attackSpectrum[h] = attack[h];
    if (sustain)
        for (int h = 0; h < NUM_PARTIALS; ++h)
            sustainSpectrum[h] = sustain[h];
}

HarmonicSpectrum SynthState::Attack() const
{
    HarmonicSpectrum s;
    for (int h = 0; h < NUM_PARTIALS; ++h)
        s.level[h] = attackSpectrum[h];
    return s;
}

HarmonicSpectrum SynthState::Sustain() const
{
    HarmonicSpectrum s;
    for (int h = 0; h < NUM_PARTIALS; ++h)
        s.level[h] = sustainSpectrum[h];
    return s;
}

bool SynthState::AnyNoteActive() const
{
    for (int n = 0; n < NUM_NOTES; ++n)
        if (IsNoteSounding(n) || (requests_[n].load(std::memory_order_relaxed) & (kRestart | kRelease)))
            return true;
    return false;
}

// ---------------------------------------------------------------------------
// The render side. Everything below runs on the audio thread.

void SynthState::ApplyRequests(int note, uint8_t requests)
{
    if (requests & kRestart) {
        std::memset(partialPhase[note], 0, sizeof partialPhase[note]);
        noteSamples[note] = 0;
        noteHeld[note] = true;
        noteReleasing[note] = false;
        releaseSamples[note] = 0;
    }
    // The key state decides where the note ends up: a key let go after the
    // restart (or without one) leaves the note releasing.
    if ((requests & kRelease) && !(requests & kKeyDown)) {
        releaseSamples[note] = 0;
        noteReleasing[note] = true;
        noteHeld[note] = false;
    }
}

void SynthState::BeginBuffer()
{
    for (int n = 0; n < NUM_NOTES; ++n) {
        if (requests_[n].load(std::memory_order_relaxed) & (kRestart | kRelease)) {
            uint8_t r = requests_[n].fetch_and(kKeyDown, std::memory_order_acquire);
            ApplyRequests(n, r);
        }
    }
    snap_.attackMs = attackMs;
    snap_.decayMs = decayMs;
    snap_.sustainPercent = sustainPercent;
    snap_.releaseMs = releaseMs;
    snap_.lfoFrequency = lfoFrequency;
    snap_.lfoWaveform = lfoWaveform_;
    snap_.modWheelDepth = modWheelDepth;
    snap_.pitchWheel = pitchWheel;
    for (int n = 0; n < NUM_NOTES; ++n)
        snap_.velocity[n] = noteVelocity[n];
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        snap_.attack[h] = attackSpectrum[h];
        snap_.sustain[h] = sustainSpectrum[h];
    }
}
