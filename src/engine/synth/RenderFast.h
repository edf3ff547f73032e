#pragma once
// The vectorised render and its dispatch. SynthState::Render runs the fastest
// variant the processor supports; every variant's output, phases, counters,
// flags and LFO phase equal RenderBuffer's (the reference) bit for bit.
//
// Floating-point environment: every render entered through here runs with the
// processor's default state (round to nearest, denormals kept, no flush to
// zero, all exceptions masked: FloatEnvironment.h), whatever the calling
// thread had set, and the caller's state is restored afterwards. Denormals are rare in a mix and cost
// little on current processors; keeping them keeps the sound defined to the
// last bit.
//
// The rendering thread only, like RenderBuffer.

class SynthState;

enum class RenderVariant {
    Reference, // RenderBuffer: one note, partial and frame at a time
    Baseline,  // SSE2, runs on every x86-64 processor
    Avx2,
    Avx512,    // AVX-512 F and DQ
    Split,     // the widest of the three, its frames split over two threads (RenderSplit.h)
    Portable,  // plain C++, any processor: the only kernel where there is no x86
};

constexpr RenderVariant kAllRenderVariants[] = {RenderVariant::Reference, RenderVariant::Baseline,
                                                 RenderVariant::Avx2,      RenderVariant::Avx512,
                                                 RenderVariant::Split,     RenderVariant::Portable};

// "Reference", "Baseline", "Avx2", "Avx512", "Split", "Portable".
const char* RenderVariantName(RenderVariant variant);
// Whether this processor (and its operating system) can run the variant; Split
// needs more than one core.
bool RenderVariantSupported(RenderVariant variant);
// The instruction set that rendered fastest on this processor (Baseline, Avx2
// or Avx512), measured once at start-up; Portable on a processor that is not
// x86. The single-thread render and the kernel of Split.
RenderVariant FastestRenderVariant();
// That start-up measurement: each variant's best time in seconds for one note
// of 128 partials over 256 frames, 0 for a variant the processor cannot run.
struct KernelTimes {
    double baseline = 0.0;
    double avx2 = 0.0;
    double avx512 = 0.0;
};
KernelTimes MeasuredKernelTimes();
// The measured variant that took least (Baseline when none was measured).
RenderVariant FastestOf(const KernelTimes& times);
// What SynthState::Render runs: Split on a machine with more than one core,
// otherwise FastestRenderVariant(). An engine made without a helper thread
// has no second thread to split with: its Split renders alone with the
// fastest kernel, which is FastestRenderVariant().
RenderVariant ChosenRenderVariant();

// Renders one buffer with the given variant (an unsupported one falls back to
// the fastest supported). Same contract as SynthState::RenderBuffer.
int RenderWith(SynthState& state, RenderVariant variant, float* output, unsigned frames);
