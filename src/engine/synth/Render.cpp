// The reference render. Its arithmetic is the sound: every product and sum is
// rounded to float exactly where it is written here, notes are summed in
// ascending order and partials in ascending order within a note. Floating
// point addition is not associative, so any other order (or a fused
// multiply-add) gives different bits; the fast render is checked byte for byte
// against this file.
//
// With the band limit on (SynthState.h, kNyquistIncrement), a partial at or
// above half the sample rate is skipped, and one in the fade band just below
// it has its morph level multiplied by its fade: one more float product, only
// for those partials.

#include <cmath>
#include <cstring>
#include <limits>

#include "SynthState.h"

namespace {

constexpr double kSemitone = 1.0594630943592953;

// Counters stop at their largest value instead of wrapping to 0, which would
// restart a note's envelope and morph after 27 hours.
inline uint32_t SaturatingAdd(uint32_t a, uint32_t b)
{
    uint32_t s = a + b;
    return s < a ? std::numeric_limits<uint32_t>::max() : s;
}

// The peak so far after one more sample. A sample that is not a finite number
// (an overflow to infinity, or NaN from infinity minus infinity) counts as the
// largest float: over full scale on the meters, yet a number they can show.
inline float PeakOf(float sample, float peak)
{
    if (!std::isfinite(sample))
        return std::numeric_limits<float>::max();
    return std::fabs(sample) > peak ? std::fabs(sample) : peak;
}

} // namespace

float SynthState::EnvelopeLevel(int note, uint32_t startSamples, uint32_t offset)
{
    const RenderSnapshot& p = snap_;
    const bool held = noteHeld[note];
    const bool releasing = noteReleasing[note];
    if (!held && !releasing)
        return 0.0f;
    const uint32_t now = SaturatingAdd(startSamples, offset);
    if (now == 0)
        return 0.0f;

    // Elapsed milliseconds: the count converted to float, then one float product.
    const float e = static_cast<float>(held ? now : SaturatingAdd(releaseSamples[note], offset)) * msPerSample;

    if (releasing) {
        if (e < p.releaseMs) {
            if (releaseFromSustain[note])
                return static_cast<float>(p.sustainPercent * 0.01 * (p.releaseMs - e) / p.releaseMs);
            return static_cast<float>(static_cast<double>(releaseLevel[note]) * (p.releaseMs - e) / p.releaseMs);
        }
        noteReleasing[note] = false;
        noteHeld[note] = false;
        releaseSamples[note] = 0;
        return 0.0f;
    }
    return HeldLevel(e);
}

float SynthState::HeldLevel(float e) const
{
    const RenderSnapshot& p = snap_;
    if (e < p.attackMs)
        return e / p.attackMs;
    // Patch files may hold any integer: the sums are taken wide so they cannot overflow.
    if (e < static_cast<int64_t>(p.attackMs) + p.decayMs) {
        const float u = (e - p.attackMs) / p.decayMs;
        return static_cast<float>((p.sustainPercent + (100 - static_cast<int64_t>(p.sustainPercent)) * (1 - u)) * 0.01);
    }
    return static_cast<float>(p.sustainPercent * 0.01);
}

float SynthState::MorphLevel(int note, int partial) const
{
    float level;
    MorphLevels(note, &partial, 1, &level);
    return level;
}

// A partial the same in both spectra keeps that level; otherwise a released
// note, or one past its attack and decay, has the sustain level, and any other
// the straight line from attack to sustain at the note's elapsed share of
// attack + decay. The note's tests are taken once for all partials.
bool SynthState::MorphSettled(int note) const
{
    float t;
    return MorphShare(note, t);
}

bool SynthState::MorphShare(int note, float& t) const
{
    t = 0.0f;
    if (noteReleasing[note])
        return true;
    const float t0 = static_cast<float>(noteSamples[note]) * msPerSample;
    const int64_t span = static_cast<int64_t>(snap_.attackMs) + snap_.decayMs;
    if (t0 >= span)
        return true;
    t = t0 / static_cast<float>(span);
    return false;
}

void SynthState::SettledLevels(const int* partials, int count, float* level) const
{
    const RenderSnapshot& p = snap_;
    for (int k = 0; k < count; ++k) {
        const float a = p.attack[partials[k]];
        const float s = p.sustain[partials[k]];
        level[k] = a == s ? a : s;
    }
}

void SynthState::MorphLevels(int note, const int* partials, int count, float* level) const
{
    float t;
    if (MorphShare(note, t)) {
        SettledLevels(partials, count, level);
        return;
    }
    const RenderSnapshot& p = snap_;
    for (int k = 0; k < count; ++k) {
        const float a = p.attack[partials[k]];
        const float s = p.sustain[partials[k]];
        level[k] = a == s ? a : a * (1 - t) + s * t;
    }
}

double SynthState::BentFrequency(int note) const
{
    // The tuning's frequency, or twelve equal steps without one (SynthState.h).
    double f = renderTuned_ ? renderFrequency_[note] : NoteFrequency(static_cast<unsigned>(note));
    const double bend = (static_cast<double>(snap_.pitchWheel) - 8192.0) / 4096.0;
    if (bend != 0.0)
        f = f * std::pow(kSemitone, bend);
    return f;
}

int SynthState::BandLimitedCount(double f, const int* rendered, int count) const
{
    if (!snap_.bandLimit)
        return count;
    // The first partial that is not below Nyquist: the increments grow with
    // the partial's number (each a product, quotient and reciprocal rounded
    // the same way), so those below it are the first ones. (A frequency that
    // is not a number leaves none below.)
    int low = 0;
    int high = count;
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (PartialIncrement(rendered[mid], f) < kNyquistIncrement)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

void SynthState::FadeBelowNyquist(double f, const int* rendered, int count, float* level) const
{
    if (!snap_.bandLimit)
        return;
    for (int k = count - 1; k >= 0; --k) {
        const double inc = PartialIncrement(rendered[k], f);
        if (!(inc >= kFadeIncrement))
            break;
        level[k] = level[k] * BandLimitFade(inc);
    }
}

void SynthState::AdvanceNote(int note, unsigned frames)
{
    noteSamples[note] = SaturatingAdd(noteSamples[note], frames);
    if (noteReleasing[note])
        releaseSamples[note] = SaturatingAdd(releaseSamples[note], frames);
}

void SynthState::ApplyTremoloAndPeaks(float* output, unsigned frames)
{
    const RenderSnapshot& p = snap_;
    // The period in samples is a float quotient; its reciprocal is a double.
    const double lfoInc = 1.0 / static_cast<double>(sampleRate / p.lfoFrequency);
    const float d = p.modWheelDepth;
    const float* lfo = waveTable_.Shape(p.lfoWaveform);
    float leftPeak = 0.0f;
    float rightPeak = 0.0f;
    for (unsigned k = 0; k < frames; ++k) {
        const float w = lfo[static_cast<int>(lfoPhase * 32768)];
        float& left = output[2 * k];
        float& right = output[2 * k + 1];
        left = (1 - d) * left + w * d * left;
        right = (1 - d) * right + w * d * right;
        lfoPhase = static_cast<float>(lfoPhase + lfoInc);
        if (lfoPhase >= 1.0f)
            lfoPhase -= 1.0f;
        // An LFO faster than the sample rate, a negative one or one that is not
        // a number (all possible from a patch file) would leave the phase
        // outside the table: fold it back in.
        if (!(lfoPhase >= 0.0f && lfoPhase < 1.0f)) {
            lfoPhase = std::isfinite(lfoPhase) ? lfoPhase - std::floor(lfoPhase) : 0.0f;
            if (lfoPhase >= 1.0f)
                lfoPhase = 0.0f;
        }
        leftPeak = PeakOf(left, leftPeak);
        rightPeak = PeakOf(right, rightPeak);
    }
    leftPeak_ = leftPeak;
    rightPeak_ = rightPeak;
    RaiseMaxPeak(leftMaxPeak_, leftPeak);
    RaiseMaxPeak(rightMaxPeak_, rightPeak);
    buffersRendered_ = buffersRendered_ + 1;
}

void SynthState::NoteGains(int note, unsigned frames, float* gain)
{
    const float velocity = snap_.velocity[note];
    const uint32_t start = noteSamples[note];
    for (unsigned i = 0; i < frames; ++i)
        gain[i] = EnvelopeLevel(note, start, i) * velocity;
}

int SynthState::RenderBuffer(float* output, unsigned frames)
{
    if (frames > MAX_FRAMES)
        frames = MAX_FRAMES;
    BeginBuffer();
    std::memset(output, 0, sizeof(float) * 2 * frames);
    const float* sine = waveTable_.Shape(0);

    for (int n = 0; n < NUM_NOTES; ++n) {
        if (!IsNoteSounding(n))
            continue;
        const double f = BentFrequency(n);
        float gain[MAX_FRAMES];
        NoteGains(n, frames, gain);

        for (int h = 0; h < NUM_PARTIALS; ++h) {
            if (snap_.attack[h] == 0.0f && snap_.sustain[h] == 0.0f)
                continue;
            const double inc = PartialIncrement(h, f);
            if (snap_.bandLimit && !(inc < kNyquistIncrement))
                continue; // not rendered: no read, no phase step
            float level = MorphLevel(n, h);
            if (snap_.bandLimit && inc >= kFadeIncrement)
                level = level * BandLimitFade(inc);
            float phase = partialPhase[n][h];
            for (unsigned i = 0; i < frames; ++i) {
                while (phase >= 1.0f)
                    phase -= 1.0f;
                const float w = sine[static_cast<int>(phase * 32768)];
                const float v = level * w * gain[i];
                output[2 * i] += v;
                output[2 * i + 1] += v;
                phase = static_cast<float>(phase + inc);
            }
            partialPhase[n][h] = phase;
        }
        AdvanceNote(n, frames);
    }

    ApplyTremoloAndPeaks(output, frames);
    return 0;
}
