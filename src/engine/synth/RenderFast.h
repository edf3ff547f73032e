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
// What the kernel is chosen by: the processor's features.
struct ProcessorFeatures {
    bool x86 = false;       // the vector kernels are built (an x86 processor): SSE2 at least
    bool avx2 = false;
    bool avx512 = false;    // F and DQ
    bool wideSlows = false; // a core that lowers its clock while it runs 512-bit arithmetic
};
// This processor's, found once when the library loads (no timing: a few
// CPUID instructions, read by the compiler's runtime).
ProcessorFeatures ThisProcessor();
// The kernel for a processor with those features: the widest instruction set
// it has, except AVX-512 where the core lowers its clock for it (AVX2 there);
// Portable where the vector kernels are not built.
RenderVariant KernelForFeatures(const ProcessorFeatures& features);
// KernelForFeatures(ThisProcessor()): the single-thread render and the kernel
// of Split.
RenderVariant FastestRenderVariant();
// What SynthState::Render runs: Split on a machine with more than one core,
// otherwise FastestRenderVariant(). An engine made without a helper thread
// has no second thread to split with: its Split renders alone with the
// fastest kernel, which is FastestRenderVariant().
RenderVariant ChosenRenderVariant();

// Renders one buffer with the given variant (an unsupported one falls back to
// the fastest supported). Same contract as SynthState::RenderBuffer.
int RenderWith(SynthState& state, RenderVariant variant, float* output, unsigned frames);
