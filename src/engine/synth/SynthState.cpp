#include "SynthState.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

SynthState::SynthState(bool helperThread)
    : renderSplit(helperThread ? NewRenderSplit(waveTable_.Shape(0)) : nullptr, DeleteRenderSplit)
{
    std::memset(partialPhase, 0, sizeof partialPhase);
    std::memset(noteSamples, 0, sizeof noteSamples);
    std::memset(releaseSamples, 0, sizeof releaseSamples);
    std::memset(releaseLevel, 0, sizeof releaseLevel);
    for (bool& fromSustain : releaseFromSustain)
        fromSustain = true;
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
    for (int n = 0; n < NUM_NOTES; ++n) {
        tuningFrequency_[n] = 0.0;
        tuningSounds_[n] = false;
    }
    TakeSound();
}

bool SameSound(const Sound& a, const Sound& b)
{
    return a.attackMs == b.attackMs && a.decayMs == b.decayMs && a.sustainPercent == b.sustainPercent &&
           a.releaseMs == b.releaseMs && std::bit_cast<uint32_t>(a.lfoFrequency) == std::bit_cast<uint32_t>(b.lfoFrequency) &&
           a.lfoWaveform == b.lfoWaveform && std::bit_cast<uint32_t>(a.volumeDb) == std::bit_cast<uint32_t>(b.volumeDb) &&
           a.bandLimit == b.bandLimit &&
           std::memcmp(a.attack.level, b.attack.level, sizeof a.attack.level) == 0 &&
           std::memcmp(a.sustain.level, b.sustain.level, sizeof a.sustain.level) == 0;
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
        if (!(old & kKeyDown))
            return; // not held: a silent note stays silent, a release goes on as it was
        next = static_cast<uint8_t>((old & ~kKeyDown) | kRelease);
    } while (!requests_[note].compare_exchange_weak(old, next, std::memory_order_release,
                                                    std::memory_order_relaxed));
}

// ---- Tuning ----

void SynthState::SetTuning(const double* frequency, const bool* sounds)
{
    tuningChanges_.fetch_add(1, std::memory_order_acquire);
    for (int n = 0; n < NUM_NOTES; ++n) {
        const double f = frequency[n];
        const bool audible = sounds[n] && std::isfinite(f) && f > 0.0 && f <= MAX_TUNED_FREQUENCY;
        tuningFrequency_[n] = audible ? f : 0.0;
        tuningSounds_[n] = audible;
    }
    tuned_ = true;
    tuningChanges_.fetch_add(1, std::memory_order_release);
}

void SynthState::SetEqualTuning()
{
    tuningChanges_.fetch_add(1, std::memory_order_acquire);
    tuned_ = false;
    tuningChanges_.fetch_add(1, std::memory_order_release);
}

double SynthState::KeyFrequency(int note) const
{
    if (note < 0 || note >= NUM_NOTES)
        return 0.0;
    return tuned_ ? tuningFrequency_[note].load() : NoteFrequency(static_cast<unsigned>(note));
}

bool SynthState::KeySounds(int note) const
{
    if (note < 0 || note >= NUM_NOTES)
        return false;
    return !tuned_ || tuningSounds_[note];
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

// The start-up sound is the parameters' defaults.
static_assert(Sound{}.attackMs == Parameter(ParamId::Attack).defaultValue &&
                  Sound{}.decayMs == Parameter(ParamId::Decay).defaultValue &&
                  Sound{}.sustainPercent == Parameter(ParamId::Sustain).defaultValue &&
                  Sound{}.releaseMs == Parameter(ParamId::Release).defaultValue &&
                  Sound{}.lfoFrequency == Parameter(ParamId::LfoFrequency).defaultValue &&
                  Sound{}.lfoWaveform == Parameter(ParamId::LfoWaveform).defaultValue &&
                  Sound{}.volumeDb == Parameter(ParamId::Volume).defaultValue &&
                  static_cast<float>(Sound{}.bandLimit) == Parameter(ParamId::BandLimit).defaultValue,
              "the start-up sound is the parameters' defaults");

static_assert(Parameter(ParamId::LfoWaveform).minimum == 0.0f &&
                  Parameter(ParamId::LfoWaveform).maximum == NUM_WAVEFORMS - 1 &&
                  Parameter(ParamId::LfoWaveform).choiceCount == NUM_WAVEFORMS,
              "the LFO's choices are the wave table's shapes");

void SynthState::SetLfoWaveform(int32_t shape)
{
    lfoWaveform_ = std::clamp<int32_t>(shape, 0, NUM_WAVEFORMS - 1);
}

namespace {
// A volume within a ten-thousandth of a decibel of 0 dB is 0 dB, where the
// output is left exactly as rendered: a host that works in values from 0 to
// 1 (VST3) turns the default back into 1.8e-06 dB, which would scale every
// sample by 1.0000002.
float HeldVolume(float dB)
{
    const float held = ClampParameter(Parameter(ParamId::Volume), dB);
    return std::fabs(held) < 1e-4f ? 0.0f : held;
}
} // namespace

void SynthState::SetVolumeDb(float dB)
{
    if (!std::isnan(dB))
        volumeDb.store(HeldVolume(dB));
}

void SynthState::SetParameter(ParamId id, float value)
{
    if (std::isnan(value))
        return; // keeps the value it has, which may lie outside the range (a patch's)
    const float held = ClampParameter(::Parameter(id), value);
    const auto whole = static_cast<int32_t>(held); // exact: a whole number within the range
    switch (id) {
    case ParamId::Attack: attackMs.store(whole); break;
    case ParamId::Decay: decayMs.store(whole); break;
    case ParamId::Sustain: sustainPercent.store(whole); break;
    case ParamId::Release: releaseMs.store(whole); break;
    case ParamId::LfoFrequency: lfoFrequency.store(held); break;
    case ParamId::LfoWaveform: lfoWaveform_ = whole; break;
    case ParamId::Volume: volumeDb.store(HeldVolume(value)); break;
    case ParamId::BandLimit: bandLimit.store(whole != 0); break;
    }
}

float SynthState::Parameter(ParamId id) const
{
    switch (id) {
    case ParamId::Attack: return static_cast<float>(attackMs.load());
    case ParamId::Decay: return static_cast<float>(decayMs.load());
    case ParamId::Sustain: return static_cast<float>(sustainPercent.load());
    case ParamId::Release: return static_cast<float>(releaseMs.load());
    case ParamId::LfoFrequency: return lfoFrequency.load();
    case ParamId::LfoWaveform: return static_cast<float>(lfoWaveform_.load());
    case ParamId::Volume: return volumeDb.load();
    case ParamId::BandLimit: return bandLimit.load() ? 1.0f : 0.0f;
    }
    return 0.0f;
}

void SynthState::BeginSoundChange()
{
    // The odd count is seen before any of the stores that follow: none of
    // them may move above this acquiring increment. (An increment rather than
    // a fence, which the thread sanitizer cannot follow.)
    soundChanges_.fetch_add(1, std::memory_order_acquire);
}

void SynthState::EndSoundChange()
{
    soundChanges_.fetch_add(1, std::memory_order_release);
}

void SynthState::SetSpectra(const float* attack, const float* sustain)
{
    BeginSoundChange();
    if (attack)
        for (int h = 0; h < NUM_PARTIALS; ++h)
            attackSpectrum[h] = FlushSubnormal(attack[h]);
    if (sustain)
        for (int h = 0; h < NUM_PARTIALS; ++h)
            sustainSpectrum[h] = FlushSubnormal(sustain[h]);
    EndSoundChange();
}

void SynthState::SetSound(const Sound& sound)
{
    BeginSoundChange();
    // Kept as given (SynthState.h): a patch's values outside the controls'
    // ranges play as they are.
    attackMs.store(sound.attackMs);
    decayMs.store(sound.decayMs);
    sustainPercent.store(sound.sustainPercent);
    releaseMs.store(sound.releaseMs);
    lfoFrequency.store(sound.lfoFrequency);
    SetLfoWaveform(sound.lfoWaveform);
    SetVolumeDb(sound.volumeDb);
    bandLimit.store(sound.bandLimit);
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        attackSpectrum[h] = FlushSubnormal(sound.attack.level[h]);
        sustainSpectrum[h] = FlushSubnormal(sound.sustain.level[h]);
    }
    EndSoundChange();
}

Sound SynthState::CurrentSound() const
{
    Sound s;
    s.attackMs = attackMs;
    s.decayMs = decayMs;
    s.sustainPercent = sustainPercent;
    s.releaseMs = releaseMs;
    s.lfoFrequency = lfoFrequency;
    s.lfoWaveform = lfoWaveform_;
    s.volumeDb = volumeDb;
    s.bandLimit = bandLimit;
    s.attack = Attack();
    s.sustain = Sustain();
    return s;
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
    // A key the tuning silences starts nothing and so releases nothing.
    if (renderTuned_ && !renderSounds_[note])
        return;
    if (requests & kRestart) {
        std::memset(partialPhase[note], 0, sizeof partialPhase[note]);
        noteSamples[note] = 0;
        noteHeld[note] = true;
        noteReleasing[note] = false;
        releaseSamples[note] = 0;
    }
    // The key state decides where the note ends up: a key let go after the
    // restart (or without one) leaves the held note releasing. (ReleaseNote
    // asks only while the key is down, so the note is held here.) Its release
    // falls from the gain it has now: in the attack or decay that is the
    // envelope at this buffer's start (0 at a note's very start under an
    // attack), in the sustain the sustain level, followed as it is set.
    if ((requests & kRelease) && !(requests & kKeyDown)) {
        const float e = static_cast<float>(noteSamples[note]) * msPerSample;
        const RenderSnapshot& p = snap_;
        releaseFromSustain[note] = !(e < static_cast<int64_t>(p.attackMs) + p.decayMs);
        releaseLevel[note] = releaseFromSustain[note] ? 0.0f : HeldLevel(e);
        releaseSamples[note] = 0;
        noteReleasing[note] = true;
        noteHeld[note] = false;
    }
}

void SynthState::BeginBuffer()
{
    // The sound first: a release that starts in this buffer falls from the
    // envelope of the sound it is rendered with.
    TakeSound();
    // The tuning before the requests: a Note On is played in the tuning of
    // the buffer it starts in.
    TakeTuning();
    for (int n = 0; n < NUM_NOTES; ++n) {
        if (requests_[n].load(std::memory_order_relaxed) & (kRestart | kRelease)) {
            uint8_t r = requests_[n].fetch_and(kKeyDown, std::memory_order_acquire);
            ApplyRequests(n, r);
        }
    }
    snap_.modWheelDepth = modWheelDepth;
    snap_.pitchWheel = pitchWheel;
    for (int n = 0; n < NUM_NOTES; ++n)
        snap_.velocity[n] = noteVelocity[n];
}

void SynthState::TakeSound()
{
    const uint32_t before = soundChanges_.load(std::memory_order_acquire);
    if (before & 1)
        return; // a change is being written: this buffer keeps the last sound
    const Sound s = CurrentSound();
    // The loads above are done before the count is looked at again: a
    // releasing read-modify-write that changes nothing keeps them above it.
    if (soundChanges_.fetch_add(0, std::memory_order_release) != before)
        return; // a change began meanwhile: what was read may be torn
    snap_.attackMs = s.attackMs;
    snap_.decayMs = s.decayMs;
    snap_.sustainPercent = s.sustainPercent;
    snap_.releaseMs = s.releaseMs;
    snap_.lfoFrequency = s.lfoFrequency;
    snap_.lfoWaveform = s.lfoWaveform;
    snap_.volumeDb = s.volumeDb;
    snap_.bandLimit = s.bandLimit;
    std::memcpy(snap_.attack, s.attack.level, sizeof snap_.attack);
    std::memcpy(snap_.sustain, s.sustain.level, sizeof snap_.sustain);
}

void SynthState::TakeTuning()
{
    const uint32_t before = tuningChanges_.load(std::memory_order_acquire);
    if ((before & 1) || before == tuningTaken_)
        return; // being written, or nothing new: the buffer keeps the tuning it has
    const bool tuned = tuned_;
    double frequency[NUM_NOTES];
    bool sounds[NUM_NOTES];
    if (tuned)
        for (int n = 0; n < NUM_NOTES; ++n) {
            frequency[n] = tuningFrequency_[n];
            sounds[n] = tuningSounds_[n];
        }
    // As TakeSound: the loads above are done before the count is looked at again.
    if (tuningChanges_.fetch_add(0, std::memory_order_release) != before)
        return; // a change began meanwhile: what was read may be torn
    tuningTaken_ = before;
    renderTuned_ = tuned;
    if (!tuned)
        return;
    std::memcpy(renderFrequency_, frequency, sizeof renderFrequency_);
    std::memcpy(renderSounds_, sounds, sizeof renderSounds_);
    for (int n = 0; n < NUM_NOTES; ++n)
        if (!renderSounds_[n] && (noteHeld[n] || noteReleasing[n])) {
            noteHeld[n] = false;
            noteReleasing[n] = false;
        }
}

void SynthState::RaiseMaxPeak(std::atomic<uint32_t>& held, float peak)
{
    const uint32_t bits = std::bit_cast<uint32_t>(peak);
    uint32_t old = held.load(std::memory_order_relaxed);
    // Only the reader's reset can come in between: the loop ends at once.
    while (bits > old && !held.compare_exchange_weak(old, bits, std::memory_order_relaxed)) {
    }
}

float SynthState::TakeMaxPeak(std::atomic<uint32_t>& held)
{
    return std::bit_cast<float>(held.exchange(0, std::memory_order_relaxed));
}
