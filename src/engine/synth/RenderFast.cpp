// The vectorised render: the reference render's steps, with the sum over a
// note's partials handed to a note kernel built for the processor's vector
// instructions (RenderFastBaseline.cpp, RenderFastAvx2.cpp,
// RenderFastAvx512.cpp). Everything that is not the partial sum (requests and
// snapshot, the frequency and its bend, the envelope pass, the morph levels,
// the increments, the counters, the tremolo and the peaks) is done here by the
// same code, or the same expressions, as the reference. With the band limit
// on, each note renders a prefix of the buffer's rendered partials, its own
// count (PrepareNote), and the kernels are given that count.

#include "RenderFast.h"

#include <cstring>

#include "FloatEnvironment.h"
#include "RenderFastKernel.h"
#include "RenderSplit.h"
#include "SynthState.h"

namespace {

using marovane_fast::NoteKernelArgs;
using marovane_fast::NoteKernels;

using FixedFloatEnvironment = marovane_fp::FixedEnvironment;

ProcessorFeatures DetectFeatures()
{
    ProcessorFeatures f;
#if defined(__x86_64__) || defined(__i386__)
    // Each also asks whether the operating system saves the vector registers.
    __builtin_cpu_init();
    f.x86 = true;
    f.avx2 = __builtin_cpu_supports("avx2");
    f.avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq");
    // Where both wide sets run, AVX-512 renders faster (the worst case on one
    // Zen 5 core: 1.34 ms against AVX2's 1.90), though by less than its width:
    // the kernels spend most of their time reading the table one lane at a
    // time, which no vector width speeds up. Intel's Skylake server cores and
    // their successors Cascade Lake and Cooper Lake lower the whole core's
    // clock for as long as 512-bit floating-point work runs, and a while
    // after, which slows those reads too and the other threads on that core:
    // they take AVX2 (not measured here; later Intel cores lower their clock
    // little for it, AMD's not at all).
    f.wideSlows =
        __builtin_cpu_is("skylake-avx512") || __builtin_cpu_is("cascadelake") || __builtin_cpu_is("cooperlake");
#endif
    return f;
}

// What the processor has, found once when the library loads.
const ProcessorFeatures kFeatures = DetectFeatures();

bool DetectSupport(RenderVariant variant)
{
    switch (variant) {
    case RenderVariant::Reference:
    case RenderVariant::Portable: return true;
    case RenderVariant::Split: return RenderSplit::Worthwhile();
    case RenderVariant::Baseline: return kFeatures.x86;
    case RenderVariant::Avx2: return kFeatures.x86 && kFeatures.avx2;
    case RenderVariant::Avx512: return kFeatures.x86 && kFeatures.avx512;
    }
    return false;
}

// What the processor can run.
const bool kSupported[] = {DetectSupport(RenderVariant::Reference), DetectSupport(RenderVariant::Baseline),
                           DetectSupport(RenderVariant::Avx2),      DetectSupport(RenderVariant::Avx512),
                           DetectSupport(RenderVariant::Split),     DetectSupport(RenderVariant::Portable)};

bool CpuSupports(RenderVariant variant)
{
    return kSupported[static_cast<int>(variant)];
}

// The x86 kernels are built only for x86; elsewhere the portable one runs.
NoteKernels KernelFor(RenderVariant variant)
{
    using namespace marovane_fast;
#if defined(__x86_64__) || defined(__i386__)
    switch (variant) {
    case RenderVariant::Avx512: return {RenderNoteAvx512, AdvancePhasesAvx512, RenderNoteChainAvx512};
    case RenderVariant::Avx2: return {RenderNoteAvx2, AdvancePhasesAvx2, RenderNoteChainAvx2};
    case RenderVariant::Baseline: return {RenderNoteBaseline, AdvancePhasesBaseline, RenderNoteChainBaseline};
    default: break;
    }
#endif
    (void)variant;
    return {RenderNotePortable, AdvancePhasesPortable};
}

constexpr int kPadded = RenderSplit::kPadded;

const RenderVariant kFastest = KernelForFeatures(kFeatures);
const RenderVariant kChosen = CpuSupports(RenderVariant::Split) ? RenderVariant::Split : kFastest;

} // namespace

// The vectorised render's steps that reach the engine's render-owned rows and
// the helper's render (a friend of SynthState and RenderSplit).
struct FastRender {
    static void RenderMixAlone(SynthState& s, const NoteKernels& kernel, const int* rendered, const float* settled,
                               int count, float* mix, unsigned frames);
    static int RenderVectorised(SynthState& s, RenderVariant variant, bool split, float* output, unsigned frames);
    static bool SustainsThroughout(const SynthState& s, int n);
};

// Every sounding note, one after the other, on this thread. The next note is
// prepared before this one is rendered (preparing a note changes nothing of
// another), so the kernel can start on it while it finishes this one.
void FastRender::RenderMixAlone(SynthState& s, const NoteKernels& kernel, const int* rendered, const float* settled,
                                int count, float* mix, unsigned frames)
{
    struct Inputs {
        alignas(64) float gain[RenderSplit::kGainPadded];
        alignas(64) float phase[kPadded];
        alignas(64) float level[kPadded];
        alignas(64) double inc[kPadded];
    };
    Inputs inputs[2];
    marovane_fast::KernelCarry carry;
    const float* sine = s.Waves().Shape(0);
    const bool mirrored = s.Waves().SineHalfMirrored();
    const auto prepare = [&](int n, Inputs& in) {
        const PreparedNote note = PrepareNote(s, n, frames, rendered, count, settled, in.gain, in.level, in.phase);
        PartialIncrements(s, note.frequency, rendered, note.partials, in.inc);
        return NoteKernelArgs{sine, mirrored, in.phase, in.inc, in.level, in.gain, mix, note.partials, frames};
    };
    const auto sounding = [&](int from) {
        while (from < NUM_NOTES && !s.IsNoteSounding(from))
            ++from;
        return from;
    };
    int n = sounding(0);
    if (n == NUM_NOTES)
        return;
    int cur = 0;
    NoteKernelArgs args = prepare(n, inputs[cur]);
    while (n < NUM_NOTES) {
        const int m = sounding(n + 1);
        NoteKernelArgs next{};
        if (m < NUM_NOTES)
            next = prepare(m, inputs[cur ^ 1]);
        // A note with nothing to render (every partial above Nyquist) has had
        // its counters moved on by PrepareNote; the kernel never primes a
        // carry for it, as it carries only to a note of the same count.
        if (args.partials > 0) {
            RenderNote(kernel, args, m < NUM_NOTES ? &next : nullptr, carry);
            StoreNotePhases(s.partialPhase[n], args.phase, rendered, args.partials);
        }
        n = m;
        args = next;
        cur ^= 1;
    }
}

int FastRender::RenderVectorised(SynthState& s, RenderVariant variant, bool split, float* output, unsigned frames)
{
    if (frames > MAX_FRAMES)
        frames = MAX_FRAMES;
    s.BeginBuffer();
    const RenderSnapshot& snap = s.Snapshot();

    // The partials that are rendered this buffer: those not zero in both spectra.
    int rendered[NUM_PARTIALS];
    int count = 0;
    for (int h = 0; h < NUM_PARTIALS; ++h)
        if (!(snap.attack[h] == 0.0f && snap.sustain[h] == 0.0f))
            rendered[count++] = h;
    // The levels of every note whose morph has settled.
    alignas(64) float settled[NUM_PARTIALS];
    s.SettledLevels(rendered, count, settled);

    // Every frame's additions start from +0.0, as the reference's output does.
    alignas(64) float mix[MAX_FRAMES];
    std::memset(mix, 0, sizeof mix);
    const NoteKernels kernel = KernelFor(variant);
    RenderSplit* helper = split ? s.renderSplit.get() : nullptr;
    if (!(helper && helper->RenderMix(s, kernel, rendered, settled, count, mix, frames)))
        RenderMixAlone(s, kernel, rendered, settled, count, mix, frames);

    // Both channels received the same additions from the same +0.0.
    for (unsigned i = 0; i < frames; ++i) {
        output[2 * i] = mix[i];
        output[2 * i + 1] = mix[i];
    }
    s.ApplyTremoloAndPeaks(output, frames);
    return 0;
}

const char* RenderVariantName(RenderVariant variant)
{
    switch (variant) {
    case RenderVariant::Reference: return "Reference";
    case RenderVariant::Baseline: return "Baseline";
    case RenderVariant::Avx2: return "Avx2";
    case RenderVariant::Avx512: return "Avx512";
    case RenderVariant::Split: return "Split";
    case RenderVariant::Portable: return "Portable";
    }
    return "Unknown";
}

bool RenderVariantSupported(RenderVariant variant)
{
    return CpuSupports(variant);
}

ProcessorFeatures ThisProcessor()
{
    return kFeatures;
}

RenderVariant KernelForFeatures(const ProcessorFeatures& features)
{
    if (!features.x86)
        return RenderVariant::Portable;
    if (features.avx512 && !features.wideSlows)
        return RenderVariant::Avx512;
    if (features.avx2)
        return RenderVariant::Avx2;
    return RenderVariant::Baseline;
}

RenderVariant FastestRenderVariant()
{
    return kFastest;
}

RenderVariant ChosenRenderVariant()
{
    return kChosen;
}

int RenderWith(SynthState& state, RenderVariant variant, float* output, unsigned frames)
{
    FixedFloatEnvironment environment;
    if (variant == RenderVariant::Reference)
        return state.RenderBuffer(output, frames);
    if (variant == RenderVariant::Split)
        return FastRender::RenderVectorised(state, kFastest, true, output, frames);
    if (!CpuSupports(variant))
        variant = kFastest;
    return FastRender::RenderVectorised(state, variant, false, output, frames);
}

int RenderSplitWith(SynthState& state, RenderVariant kernel, float* output, unsigned frames)
{
    FixedFloatEnvironment environment;
    if (kernel == RenderVariant::Reference || kernel == RenderVariant::Split || !CpuSupports(kernel))
        kernel = kFastest;
    return FastRender::RenderVectorised(state, kernel, true, output, frames);
}

// Whether a note's envelope stays at the sustain level for a whole buffer: a
// held note whose elapsed time at the buffer's first frame is past both the
// attack and the end of the decay (HeldLevel's two tests). Its elapsed time
// only grows from frame to frame, so every frame takes the same branch, and
// a held note's envelope changes nothing: one step stands for all frames.
bool FastRender::SustainsThroughout(const SynthState& s, int n)
{
    if (!s.IsNoteHeld(n) || s.IsNoteReleasing(n) || s.noteSamples[n] == 0)
        return false;
    const RenderSnapshot& p = s.Snapshot();
    const float e = static_cast<float>(s.noteSamples[n]) * s.msPerSample;
    return !(e < p.attackMs) && !(e < static_cast<int64_t>(p.attackMs) + p.decayMs);
}

namespace {

// The rendered partials are listed in ascending order: the last is count - 1
// only when they are partials 0 to count - 1.
bool AllFromFirst(const int* rendered, int count)
{
    return count > 0 && rendered[count - 1] == count - 1;
}

} // namespace

void RenderNote(const NoteKernels& kernel, const NoteKernelArgs& a, const NoteKernelArgs* next,
                marovane_fast::KernelCarry& carry)
{
    if (kernel.chain)
        kernel.chain(a, next, carry);
    else
        kernel.render(a);
}

void StoreNotePhases(float* row, const float* phase, const int* rendered, int partials)
{
    if (AllFromFirst(rendered, partials))
        std::memcpy(row, phase, sizeof(float) * static_cast<size_t>(partials));
    else
        for (int k = 0; k < partials; ++k)
            row[rendered[k]] = phase[k];
}

void PartialIncrements(const SynthState& s, double f, const int* rendered, int count, double* inc)
{
    for (int k = 0; k < count; ++k)
        inc[k] = s.PartialIncrement(rendered[k], f);
    for (int k = count; k < (count + 15) / 16 * 16; ++k)
        inc[k] = 0.0;
}

PreparedNote PrepareNote(SynthState& s, int n, unsigned frames, const int* rendered, int all, const float* settled,
                         float* gain, float* level, float* phase)
{
    const double f = s.BentFrequency(n);
    const int count = s.BandLimitedCount(f, rendered, all);
    if (FastRender::SustainsThroughout(s, n)) {
        // Eight frames to a copy: a plain loop stays scalar at the
        // optimisation level the engine is built with.
        const float g = s.EnvelopeLevel(n, s.noteSamples[n], 0) * s.Snapshot().velocity[n];
        float eight[8];
        for (float& e : eight)
            e = g;
        unsigned i = 0;
        for (; i + 8 <= frames; i += 8)
            std::memcpy(gain + i, eight, sizeof eight);
        for (; i < frames; ++i)
            gain[i] = g;
    } else {
        s.NoteGains(n, frames, gain);
    }
    std::memset(gain + frames, 0, sizeof(float) * (RenderSplit::kGainPadded - frames));
    if (s.MorphSettled(n))
        std::memcpy(level, settled, sizeof(float) * static_cast<size_t>(count));
    else
        s.MorphLevels(n, rendered, count, level);
    s.FadeBelowNyquist(f, rendered, count, level);
    if (AllFromFirst(rendered, count))
        std::memcpy(phase, s.partialPhase[n], sizeof(float) * static_cast<size_t>(count));
    else
        for (int k = 0; k < count; ++k)
            phase[k] = s.partialPhase[n][rendered[k]];
    // The kernels run whole blocks of 16 lanes: the rest compute nothing that is added.
    for (int k = count; k < (count + 15) / 16 * 16; ++k) {
        level[k] = 0.0f;
        phase[k] = 0.0f;
    }
    s.AdvanceNote(n, frames);
    return {f, count};
}

int SynthState::Render(float* output, unsigned frames)
{
    return RenderWith(*this, kChosen, output, frames);
}
