// marovane-bench: how long one buffer of 256 frames takes to render, for the
// reference render, the render the program uses (Fast), each vectorised
// variant this processor supports, and two peers doing the same additive work:
// STK's table oscillators (one stk::SineWave per partial) and VOLK's rotator
// kernel (one call per partial per buffer, the real part summed). Each case
// runs every implementation in the same process.
//
// Counters: ns/partial-sample (time per sounding partial per frame) and
// budget% (share of the 5.8 ms a 256-frame buffer lasts at 44100 Hz).
#include <benchmark/benchmark.h>

#include <SineWave.h>
#include <volk/volk.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "synth/RenderFast.h"
#include "synth/RenderSplit.h"
#include "synth/SynthState.h"

namespace {

constexpr double kBudgetSeconds = 5.8e-3;
constexpr double kTwoPi = 6.283185307179586;

struct BenchCase {
    const char* name;
    int firstNote;
    int lastNote;
    bool sparse;       // every other partial zero in both spectra
    float pitchWheel;
};

const BenchCase kCases[] = {
    {"Worst", 0, 127, false, PITCH_WHEEL_CENTRE},
    {"Notes16", 48, 63, false, PITCH_WHEEL_CENTRE},
    {"Sparse", 0, 127, true, PITCH_WHEEL_CENTRE},
    // Increments above 1 for most partials: notes 100 to 127 bent up two semitones.
    {"High", 100, 127, false, 16383.0f},
};

// An engine holding the case's notes, its attack already past.
std::unique_ptr<SynthState> MakeEngine(const BenchCase& c)
{
    auto s = std::make_unique<SynthState>();
    float attack[NUM_PARTIALS], sustain[NUM_PARTIALS];
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        const bool zero = c.sparse && h % 2 == 1;
        attack[h] = zero ? 0.0f : 0.5f / static_cast<float>(h + 1) / 128.0f;
        sustain[h] = zero ? 0.0f : 0.25f / static_cast<float>(h + 1) / 128.0f;
    }
    s->SetSpectra(attack, sustain);
    s->attackMs = 5;
    s->decayMs = 20;
    s->sustainPercent = 80;
    s->pitchWheel = c.pitchWheel;
    for (int n = c.firstNote; n <= c.lastNote; ++n)
        s->StartNote(n);
    float out[2 * MAX_FRAMES];
    for (int b = 0; b < 8; ++b)
        s->RenderBuffer(out, MAX_FRAMES);
    return s;
}

int RenderedPartials(const BenchCase& c)
{
    return c.sparse ? NUM_PARTIALS / 2 : NUM_PARTIALS;
}

double PartialSamples(const BenchCase& c)
{
    return static_cast<double>(c.lastNote - c.firstNote + 1) * RenderedPartials(c) * MAX_FRAMES;
}

// The work of one buffer; the reporter turns it into the two counters.
void SetCounters(benchmark::State& state, const BenchCase& c, double checksum)
{
    state.counters["partial-samples"] = PartialSamples(c);
    benchmark::DoNotOptimize(checksum);
}

double Checksum(const float* out, unsigned samples)
{
    double sum = 0.0;
    for (unsigned i = 0; i < samples; ++i)
        sum += out[i];
    return sum;
}

// variant: Reference, the fastest (what SynthState::Render runs) or one variant.
void BenchRender(benchmark::State& state, const BenchCase& c, bool fast, RenderVariant variant)
{
    auto s = MakeEngine(c);
    std::vector<float> out(2 * MAX_FRAMES);
    double checksum = 0.0;
    const RenderSplitStats before = s->renderSplit ? s->renderSplit->Stats() : RenderSplitStats{};
    for (auto _ : state) {
        if (fast)
            s->Render(out.data(), MAX_FRAMES);
        else
            RenderWith(*s, variant, out.data(), MAX_FRAMES);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        checksum += Checksum(out.data(), 2 * MAX_FRAMES);
    }
    SetCounters(state, c, checksum);
    // How the two threads shared the buffers: the share of buffers the helper
    // finished on its own, and the notes per buffer the audio thread took over.
    if (s->renderSplit && (fast ? ChosenRenderVariant() : variant) == RenderVariant::Split) {
        const RenderSplitStats after = s->renderSplit->Stats();
        const double buffers = static_cast<double>(state.iterations());
        state.counters["helper-finished%"] = 100.0 * static_cast<double>(after.helperFinished - before.helperFinished) / buffers;
        state.counters["notes-taken-over"] = static_cast<double>(after.notesTakenOver - before.notesTakenOver) / buffers;
        state.counters["alone%"] = 100.0 * static_cast<double>(after.alone - before.alone) / buffers;
    }
}

// The per-frame gains and per-partial levels the peers use: the engine's own,
// taken from one buffer of the case (they are constant once the decay is over).
struct PeerInputs {
    std::vector<int> notes;
    std::vector<int> partials;
    std::vector<double> frequency; // per note
    std::vector<float> gain;       // per note x frame
    std::vector<float> level;      // per note x partial
};

PeerInputs MakePeerInputs(const BenchCase& c)
{
    auto s = MakeEngine(c);
    PeerInputs in;
    s->BeginBuffer();
    for (int h = 0; h < NUM_PARTIALS; ++h)
        if (!(s->Snapshot().attack[h] == 0.0f && s->Snapshot().sustain[h] == 0.0f))
            in.partials.push_back(h);
    for (int n = c.firstNote; n <= c.lastNote; ++n) {
        in.notes.push_back(n);
        in.frequency.push_back(s->BentFrequency(n));
        float gain[MAX_FRAMES];
        s->NoteGains(n, MAX_FRAMES, gain);
        in.gain.insert(in.gain.end(), gain, gain + MAX_FRAMES);
        for (int h : in.partials)
            in.level.push_back(s->MorphLevel(n, h));
    }
    return in;
}

void BenchStk(benchmark::State& state, const BenchCase& c)
{
    stk::Stk::setSampleRate(SAMPLE_RATE);
    const PeerInputs in = MakePeerInputs(c);
    const size_t np = in.partials.size();
    std::vector<stk::SineWave> osc(in.notes.size() * np);
    for (size_t k = 0; k < in.notes.size(); ++k)
        for (size_t j = 0; j < np; ++j)
            osc[k * np + j].setFrequency((in.partials[j] + 1) * in.frequency[k]);
    std::vector<float> out(2 * MAX_FRAMES);
    double checksum = 0.0;
    for (auto _ : state) {
        std::fill(out.begin(), out.end(), 0.0f);
        for (size_t k = 0; k < in.notes.size(); ++k) {
            const float* gain = &in.gain[k * MAX_FRAMES];
            for (size_t j = 0; j < np; ++j) {
                stk::SineWave& o = osc[k * np + j];
                const float level = in.level[k * np + j];
                for (unsigned i = 0; i < MAX_FRAMES; ++i) {
                    const float v = level * static_cast<float>(o.tick()) * gain[i];
                    out[2 * i] += v;
                    out[2 * i + 1] += v;
                }
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        checksum += Checksum(out.data(), 2 * MAX_FRAMES);
    }
    SetCounters(state, c, checksum);
}

void BenchVolk(benchmark::State& state, const BenchCase& c)
{
    const PeerInputs in = MakePeerInputs(c);
    const size_t np = in.partials.size();
    const size_t count = in.notes.size() * np;
    std::vector<lv_32fc_t> phase(count, lv_32fc_t(1.0f, 0.0f));
    std::vector<lv_32fc_t> step(count);
    for (size_t k = 0; k < in.notes.size(); ++k)
        for (size_t j = 0; j < np; ++j) {
            const double cycles = (in.partials[j] + 1) * in.frequency[k] / SAMPLE_RATE;
            step[k * np + j] = lv_32fc_t(static_cast<float>(std::cos(kTwoPi * cycles)),
                                         static_cast<float>(std::sin(kTwoPi * cycles)));
        }
    const size_t alignment = volk_get_alignment();
    auto* ones = static_cast<lv_32fc_t*>(volk_malloc(MAX_FRAMES * sizeof(lv_32fc_t), alignment));
    auto* rotated = static_cast<lv_32fc_t*>(volk_malloc(MAX_FRAMES * sizeof(lv_32fc_t), alignment));
    for (unsigned i = 0; i < MAX_FRAMES; ++i)
        ones[i] = lv_32fc_t(1.0f, 0.0f);
    std::vector<float> out(2 * MAX_FRAMES);
    double checksum = 0.0;
    for (auto _ : state) {
        std::fill(out.begin(), out.end(), 0.0f);
        for (size_t k = 0; k < in.notes.size(); ++k) {
            const float* gain = &in.gain[k * MAX_FRAMES];
            for (size_t j = 0; j < np; ++j) {
                const size_t p = k * np + j;
                volk_32fc_s32fc_x2_rotator_32fc(rotated, ones, step[p], &phase[p], MAX_FRAMES);
                const float level = in.level[p];
                for (unsigned i = 0; i < MAX_FRAMES; ++i) {
                    const float v = level * rotated[i].real() * gain[i];
                    out[2 * i] += v;
                    out[2 * i + 1] += v;
                }
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        checksum += Checksum(out.data(), 2 * MAX_FRAMES);
    }
    volk_free(ones);
    volk_free(rotated);
    SetCounters(state, c, checksum);
}

// The console table, then a verdict on the worst case.
class VerdictReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        std::vector<Run> shown = runs;
        for (Run& r : shown) {
            if (r.error_occurred || r.iterations <= 0 || r.run_type != Run::RT_Iteration)
                continue;
            const double seconds = r.real_accumulated_time / static_cast<double>(r.iterations);
            const double work = r.counters["partial-samples"].value;
            r.counters.erase("partial-samples");
            r.counters["ns/partial-sample"] = benchmark::Counter(seconds * 1e9 / work);
            r.counters["budget%"] = benchmark::Counter(100.0 * seconds / kBudgetSeconds);
            seconds_[r.benchmark_name()] = seconds;
        }
        ConsoleReporter::ReportRuns(shown);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        const auto find = [this](const std::string& name) {
            const auto it = seconds_.find(name);
            return it == seconds_.end() ? 0.0 : it->second;
        };
        const double fast = find("Render/Fast/Worst/real_time");
        if (fast <= 0.0)
            return;
        const double reference = find("Render/Reference/Worst/real_time");
        const double stk = find("Peer/Stk/Worst/real_time");
        const double volk = find("Peer/Volk/Worst/real_time");
        std::printf("\nWorst case, 128 notes x 128 partials x 256 frames (Fast = %s, kernel %s):\n",
                    RenderVariantName(ChosenRenderVariant()), RenderVariantName(FastestRenderVariant()));
        std::printf("  Fast: %.3f ms = %.1f%% of the %.1f ms budget\n", fast * 1e3, 100.0 * fast / kBudgetSeconds,
                    kBudgetSeconds * 1e3);
        if (reference > 0.0)
            std::printf("  %.1f x faster than Reference (%.3f ms)\n", reference / fast, reference * 1e3);
        if (stk > 0.0)
            std::printf("  %.1f x faster than Stk (%.3f ms)\n", stk / fast, stk * 1e3);
        if (volk > 0.0)
            std::printf("  %.1f x faster than Volk (%.3f ms)\n", volk / fast, volk * 1e3);
    }

private:
    std::map<std::string, double> seconds_;
};

} // namespace

int main(int argc, char** argv)
{
    const auto tune = [](benchmark::internal::Benchmark* b) { b->UseRealTime()->Unit(benchmark::kMillisecond); };
    for (const BenchCase& c : kCases) {
        const std::string name = c.name;
        tune(benchmark::RegisterBenchmark(("Render/Reference/" + name).c_str(), BenchRender, c, false,
                                          RenderVariant::Reference));
        tune(benchmark::RegisterBenchmark(("Render/Fast/" + name).c_str(), BenchRender, c, true,
                                          RenderVariant::Reference));
        for (RenderVariant v : kAllRenderVariants)
            if (v != RenderVariant::Reference && RenderVariantSupported(v))
                tune(benchmark::RegisterBenchmark(("Render/" + std::string(RenderVariantName(v)) + "/" + name).c_str(),
                                                  BenchRender, c, false, v));
        tune(benchmark::RegisterBenchmark(("Peer/Stk/" + name).c_str(), BenchStk, c));
        tune(benchmark::RegisterBenchmark(("Peer/Volk/" + name).c_str(), BenchVolk, c));
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    VerdictReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
