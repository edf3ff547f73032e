// marovane-bench: how long one buffer of 256 frames takes to render, for the
// reference render, the render the program uses (Fast), each vectorised
// variant this processor supports, and two peers doing the same additive work:
// STK's table oscillators (one stk::SineWave per partial) and VOLK's rotator
// kernel (one call per partial per buffer, the real part summed). Each case
// runs every implementation in the same process.
//
// Counters: ns/partial-sample (time per sounding partial per frame), budget%
// (share of the 5.8 ms a 256-frame buffer lasts at 44100 Hz) and x-roofline
// (ns/partial-sample against Render/Roofline/Worst's, measured in the same
// run). The two-thread render adds helper-finished% and notes-taken-over.
//
// Render/Roofline/Worst is the bare partial loop at the worst case's size:
// see Roofline below. Scale/NnPp is the program's render (Fast) of n notes x
// p partials, to show that the cost follows the partial-samples rendered;
// Scale/Idle is a buffer with no note sounding. BandLimit/Off and
// BandLimit/On are the worst case's sound and notes with the band limit off
// and on (the partials at or above Nyquist left out): the line after the table
// gives their ratio.
#include <benchmark/benchmark.h>

// GCC 12's AVX-512 header leaves the upper half of some conversions undefined
// on purpose and then warns about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include <SineWave.h>
#include <volk/volk.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <complex>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "synth/RenderFast.h"
#include "synth/RenderSplit.h"
#include "synth/SynthState.h"
#include "support/EngineTestAccess.h"

namespace {

// The render's steps and rows (tests/support/EngineTestAccess.h).
using Access = SynthStateTestAccess;

constexpr double kBudgetSeconds = 5.8e-3;
constexpr double kTwoPi = 6.283185307179586;

struct BenchCase {
    std::string name;
    int firstNote;
    int lastNote;      // below firstNote: no note sounds
    bool sparse;       // every other partial zero in both spectra
    float pitchWheel;
    int partials = NUM_PARTIALS; // the first this many partials sound (before `sparse`)
    float level = 0.0f;          // not 0: every partial at this level in both spectra
    bool bandLimit = false;      // the band limit's switch
};

const BenchCase kCases[] = {
    {"Worst", 0, 127, false, PITCH_WHEEL_CENTRE},
    {"Notes16", 48, 63, false, PITCH_WHEEL_CENTRE},
    {"Sparse", 0, 127, true, PITCH_WHEEL_CENTRE},
    // Increments above 1 for most partials: notes 100 to 127 bent up two semitones.
    {"High", 100, 127, false, 16383.0f},
};

// The cost against the work: notes x partials, each range of notes centred
// on the keyboard's middle, and an instrument with nothing sounding.
std::vector<BenchCase> ScaleCases()
{
    std::vector<BenchCase> cases;
    for (int notes : {1, 16, 64, 128})
        for (int partials : {8, 32, 128}) {
            const int first = notes == NUM_NOTES ? 0 : 64 - notes / 2;
            cases.push_back({"Scale/N" + std::to_string(notes) + "P" + std::to_string(partials), first,
                             first + notes - 1, false, PITCH_WHEEL_CENTRE, partials});
        }
    cases.push_back({"Scale/Idle", 0, -1, false, PITCH_WHEEL_CENTRE});
    return cases;
}

// 64 notes of 128 partials whose levels are ordinary, subnormal (1e-40, far
// below hearing: such a sound costs what silence costs, as the engine takes
// subnormal levels as 0 where a sound is set) and the smallest normal floats
// (products with the sine and the envelope fall into the subnormal range).
const BenchCase kLevelCases[] = {
    {"Levels/Normal", 32, 95, false, PITCH_WHEEL_CENTRE, NUM_PARTIALS, 0.01f},
    {"Levels/Subnormal", 32, 95, false, PITCH_WHEEL_CENTRE, NUM_PARTIALS, 1e-40f},
    {"Levels/SmallestNormal", 32, 95, false, PITCH_WHEEL_CENTRE, NUM_PARTIALS, 2e-38f},
};

// The worst case's 128 notes of 128 partials, the band limit off and on.
const BenchCase kBandLimitCases[] = {
    {"BandLimit/Off", 0, 127, false, PITCH_WHEEL_CENTRE},
    {"BandLimit/On", 0, 127, false, PITCH_WHEEL_CENTRE, NUM_PARTIALS, 0.0f, true},
};

// An engine holding the case's notes, its attack already past.
std::unique_ptr<SynthState> MakeEngine(const BenchCase& c)
{
    auto s = std::make_unique<SynthState>();
    float attack[NUM_PARTIALS], sustain[NUM_PARTIALS];
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        const bool zero = (c.sparse && h % 2 == 1) || h >= c.partials;
        attack[h] = zero ? 0.0f : c.level != 0.0f ? c.level : 0.5f / static_cast<float>(h + 1) / 128.0f;
        sustain[h] = zero ? 0.0f : c.level != 0.0f ? c.level : 0.25f / static_cast<float>(h + 1) / 128.0f;
    }
    s->SetSpectra(attack, sustain);
    s->SetParameter(ParamId::Attack, 5);
    s->SetParameter(ParamId::Decay, 20);
    s->SetParameter(ParamId::Sustain, 80);
    s->SetPitchWheel(c.pitchWheel);
    s->SetParameter(ParamId::BandLimit, c.bandLimit ? 1.0f : 0.0f);
    for (int n = c.firstNote; n <= c.lastNote; ++n)
        s->StartNote(n);
    float out[2 * MAX_FRAMES];
    for (int b = 0; b < 8; ++b)
        Access::RenderBuffer(*s, out, MAX_FRAMES);
    return s;
}

int RenderedPartials(const BenchCase& c)
{
    return c.sparse ? c.partials / 2 : c.partials;
}

double PartialSamples(const BenchCase& c)
{
    return c.lastNote < c.firstNote ? 0.0 : static_cast<double>(c.lastNote - c.firstNote + 1) * RenderedPartials(c) * MAX_FRAMES;
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
    const RenderSplitStats before = s->SplitStats();
    for (auto _ : state) {
        if (fast)
            Access::Render(*s, out.data(), MAX_FRAMES);
        else
            RenderWith(*s, variant, out.data(), MAX_FRAMES);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        checksum += Checksum(out.data(), 2 * MAX_FRAMES);
    }
    SetCounters(state, c, checksum);
    // How the two threads shared the buffers: the share of buffers the helper
    // finished on its own, and the notes per buffer the audio thread took over.
    if (s->HasHelperThread() && (fast ? ChosenRenderVariant() : variant) == RenderVariant::Split) {
        const RenderSplitStats after = s->SplitStats();
        const double buffers = static_cast<double>(state.iterations());
        state.counters["helper-finished%"] = 100.0 * static_cast<double>(after.helperFinished - before.helperFinished) / buffers;
        state.counters["notes-taken-over"] = static_cast<double>(after.notesTakenOver - before.notesTakenOver) / buffers;
        state.counters["alone%"] = 100.0 * static_cast<double>(after.alone - before.alone) / buffers;
    }
}

// The roofline: the least work a partial-sample needs, written as fast as
// this machine allows. Per partial and frame: the phase straight from the
// buffer's start phase (start + frame x increment, in float), the wrap
// (phase - floor(phase)), one read of the engine's sine table, one multiply by
// the note's gain at that frame and one add into the mix, partial after
// partial. It leaves out what makes the render exact and complete: the phase
// recurrence in the reference's roundings (a float rounding of a double sum
// every frame, so each frame waits for the one before), the partial's level
// (a second product), the envelope, morph and increments of every note, the
// tremolo, the peaks and the second channel. Its inputs are the worst case's:
// every note's increments, levels and gains.
//
// Two ways to read the table are written, and the faster here is the
// roofline: a gather of 16 (or 8) frames of a partial, and the render's own
// way, 16 partials x 16 frames a tile, positions stored, the table read along
// each partial two values a store, from the first quarter of each half of the
// sine when it is half-mirrored (the same values).
struct RooflineInputs {
    std::vector<float> inc;    // per note x partial, cycles per sample
    std::vector<float> phase;  // per note x partial, start of the buffer
    std::vector<float> gain;   // per note x frame
};

using RooflineLoop = void (*)(const float* sine, RooflineInputs& in, float* mix, int notes, int partials);

__attribute__((target("avx512f"))) void RooflineAvx512(const float* sine, RooflineInputs& in, float* mix, int notes,
                                                        int partials)
{
    const __m512 iota = _mm512_setr_ps(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    const __m512 scale = _mm512_set1_ps(32768.0f);
    for (int np = 0; np < notes * partials; ++np) {
        const float inc = in.inc[static_cast<size_t>(np)];
        const __m512 step = _mm512_set1_ps(inc * 16.0f);
        const float* gain = &in.gain[static_cast<size_t>(np / partials) * MAX_FRAMES];
        __m512 p = _mm512_add_ps(_mm512_set1_ps(in.phase[static_cast<size_t>(np)]), _mm512_mul_ps(iota, _mm512_set1_ps(inc)));
        for (int t = 0; t < MAX_FRAMES; t += 16) {
            const __m512 w = _mm512_sub_ps(p, _mm512_roundscale_ps(p, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
            const __m512 v = _mm512_i32gather_ps(_mm512_cvttps_epi32(_mm512_mul_ps(w, scale)), sine, 4);
            _mm512_storeu_ps(mix + t, _mm512_add_ps(_mm512_loadu_ps(mix + t), _mm512_mul_ps(v, _mm512_loadu_ps(gain + t))));
            p = _mm512_add_ps(w, step);
        }
        in.phase[static_cast<size_t>(np)] = _mm512_cvtss_f32(p);
    }
}

// The tiled read, 64 partials at a time (the partial count a multiple of 64):
// the positions of the next 16 frames are computed while the table is read
// for the current ones, as the render does.
template <bool kMirrored>
__attribute__((target("avx512f"))) inline void RooflinePositions(const __m512* start, const __m512* inc, int frame,
                                                                  uint32_t (*ix)[16][16], int j)
{
    const __m512 scale = _mm512_set1_ps(32768.0f);
    const __m512i half = _mm512_set1_epi32(16384);
    const __m512 t = _mm512_set1_ps(static_cast<float>(frame));
#pragma GCC unroll 4
    for (int b = 0; b < 4; ++b) {
        const __m512 p = _mm512_add_ps(start[b], _mm512_mul_ps(t, inc[b]));
        const __m512 w = _mm512_sub_ps(p, _mm512_roundscale_ps(p, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC));
        __m512i i = _mm512_cvttps_epi32(_mm512_mul_ps(w, scale));
        if (kMirrored) {
            const __m512i r = _mm512_and_si512(i, _mm512_set1_epi32(16383));
            i = _mm512_ternarylogic_epi32(i, half, _mm512_min_epu32(r, _mm512_sub_epi32(half, r)), 0xEA);
        }
        _mm512_store_si512(ix[b][j], i);
    }
}

template <bool kMirrored>
__attribute__((target("avx512f"))) void RooflineAvx512Tiles(const float* sine, RooflineInputs& in, float* mix,
                                                             int notes, int partials)
{
    alignas(64) uint32_t ix[2][4][16][16]; // tile, block, frame, partial
    alignas(64) float row[4][16][16];      // block, partial, frame
    for (int n = 0; n < notes; ++n) {
        const float* gain = &in.gain[static_cast<size_t>(n) * MAX_FRAMES];
        for (int first = 0; first < partials; first += 64) {
            float* phase = &in.phase[static_cast<size_t>(n * partials + first)];
            const float* incs = &in.inc[static_cast<size_t>(n * partials + first)];
            __m512 start[4], inc[4];
            for (int b = 0; b < 4; ++b) {
                start[b] = _mm512_loadu_ps(phase + 16 * b);
                inc[b] = _mm512_loadu_ps(incs + 16 * b);
            }
            for (int j = 0; j < 16; ++j)
                RooflinePositions<kMirrored>(start, inc, j, ix[0], j);
            for (int t0 = 0, cur = 0; t0 < MAX_FRAMES; t0 += 16, cur ^= 1) {
                for (int k = 0; k < 16; ++k) {
                    if (t0 + 16 < MAX_FRAMES)
                        RooflinePositions<kMirrored>(start, inc, t0 + 16 + k, ix[cur ^ 1], k);
#pragma GCC unroll 4
                    for (int b = 0; b < 4; ++b)
#pragma GCC unroll 8
                        for (int j = 0; j < 16; j += 2) {
                            uint32_t x, y;
                            std::memcpy(&x, sine + ix[cur][b][j][k], sizeof x);
                            std::memcpy(&y, sine + ix[cur][b][j + 1][k], sizeof y);
                            const uint64_t pair = x | static_cast<uint64_t>(y) << 32;
                            std::memcpy(&row[b][k][j], &pair, sizeof pair);
                        }
                }
                const __m512 g = _mm512_loadu_ps(gain + t0);
                __m512 m = _mm512_loadu_ps(mix + t0);
                for (int b = 0; b < 4; ++b)
                    for (int k = 0; k < 16; ++k)
                        m = _mm512_add_ps(m, _mm512_mul_ps(_mm512_load_ps(row[b][k]), g));
                _mm512_storeu_ps(mix + t0, m);
            }
            for (int b = 0; b < 4; ++b) {
                const __m512 p = _mm512_add_ps(start[b], _mm512_mul_ps(_mm512_set1_ps(static_cast<float>(MAX_FRAMES)), inc[b]));
                _mm512_storeu_ps(phase + 16 * b,
                                 _mm512_sub_ps(p, _mm512_roundscale_ps(p, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)));
            }
        }
    }
}

__attribute__((target("avx2"))) void RooflineAvx2(const float* sine, RooflineInputs& in, float* mix, int notes,
                                                   int partials)
{
    const __m256 iota = _mm256_setr_ps(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256 scale = _mm256_set1_ps(32768.0f);
    for (int np = 0; np < notes * partials; ++np) {
        const float inc = in.inc[static_cast<size_t>(np)];
        const __m256 step = _mm256_set1_ps(inc * 8.0f);
        const float* gain = &in.gain[static_cast<size_t>(np / partials) * MAX_FRAMES];
        __m256 p = _mm256_add_ps(_mm256_set1_ps(in.phase[static_cast<size_t>(np)]), _mm256_mul_ps(iota, _mm256_set1_ps(inc)));
        for (int t = 0; t < MAX_FRAMES; t += 8) {
            const __m256 w = _mm256_sub_ps(p, _mm256_floor_ps(p));
            const __m256 v = _mm256_i32gather_ps(sine, _mm256_cvttps_epi32(_mm256_mul_ps(w, scale)), 4);
            _mm256_storeu_ps(mix + t, _mm256_add_ps(_mm256_loadu_ps(mix + t), _mm256_mul_ps(v, _mm256_loadu_ps(gain + t))));
            p = _mm256_add_ps(w, step);
        }
        in.phase[static_cast<size_t>(np)] = _mm256_cvtss_f32(p);
    }
}

void RooflineScalar(const float* sine, RooflineInputs& in, float* mix, int notes, int partials)
{
    for (int np = 0; np < notes * partials; ++np) {
        const float inc = in.inc[static_cast<size_t>(np)];
        const float* gain = &in.gain[static_cast<size_t>(np / partials) * MAX_FRAMES];
        float p = in.phase[static_cast<size_t>(np)];
        for (int t = 0; t < MAX_FRAMES; ++t) {
            p -= std::floor(p);
            mix[t] += sine[static_cast<int>(p * 32768.0f)] * gain[t];
            p += inc;
        }
        in.phase[static_cast<size_t>(np)] = p;
    }
}

// The loops this processor runs, the fastest of them on these inputs (the
// best of five runs each) first.
RooflineLoop FastestRoofline(const float* sine, bool mirrored, RooflineInputs& in, int notes, int partials)
{
    __builtin_cpu_init();
    std::vector<RooflineLoop> loops;
    if (__builtin_cpu_supports("avx512f")) {
        loops.push_back(RooflineAvx512);
        if (partials % 64 == 0)
            loops.push_back(mirrored ? RooflineAvx512Tiles<true> : RooflineAvx512Tiles<false>);
    }
    if (__builtin_cpu_supports("avx2"))
        loops.push_back(RooflineAvx2);
    loops.push_back(RooflineScalar);
    std::vector<float> mix(MAX_FRAMES);
    RooflineLoop fastest = loops.front();
    double best = 0.0;
    for (RooflineLoop loop : loops)
        for (int run = 0; run < 5; ++run) {
            const auto start = std::chrono::steady_clock::now();
            loop(sine, in, mix.data(), notes, partials);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (best == 0.0 || seconds < best) {
                best = seconds;
                fastest = loop;
            }
        }
    return fastest;
}

void BenchRoofline(benchmark::State& state, const BenchCase& c)
{
    auto s = MakeEngine(c);
    Access::BeginBuffer(*s);
    const int notes = c.lastNote - c.firstNote + 1;
    const int partials = RenderedPartials(c);
    RooflineInputs in;
    for (int n = c.firstNote; n <= c.lastNote; ++n) {
        const double f = Access::BentFrequency(*s, n);
        float gain[MAX_FRAMES];
        Access::NoteGains(*s, n, MAX_FRAMES, gain);
        in.gain.insert(in.gain.end(), gain, gain + MAX_FRAMES);
        for (int h = 0; h < NUM_PARTIALS; ++h) {
            if ((c.sparse && h % 2 == 1) || h >= c.partials)
                continue;
            in.inc.push_back(static_cast<float>(Access::PartialIncrement(*s, h, f)));
            in.phase.push_back(Access::PartialPhase(*s)[n][h]);
        }
    }
    const float* sine = s->Waves().Shape(0);
    const RooflineLoop loop = FastestRoofline(sine, s->Waves().SineHalfMirrored(), in, notes, partials);
    std::vector<float> mix(MAX_FRAMES);
    double checksum = 0.0;
    for (auto _ : state) {
        std::fill(mix.begin(), mix.end(), 0.0f);
        loop(sine, in, mix.data(), notes, partials);
        benchmark::DoNotOptimize(mix.data());
        benchmark::ClobberMemory();
        checksum += Checksum(mix.data(), MAX_FRAMES);
    }
    SetCounters(state, c, checksum);
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
    Access::BeginBuffer(*s);
    for (int h = 0; h < NUM_PARTIALS; ++h)
        if (!(Access::Snapshot(*s).attack[h] == 0.0f && Access::Snapshot(*s).sustain[h] == 0.0f))
            in.partials.push_back(h);
    for (int n = c.firstNote; n <= c.lastNote; ++n) {
        in.notes.push_back(n);
        in.frequency.push_back(Access::BentFrequency(*s, n));
        float gain[MAX_FRAMES];
        Access::NoteGains(*s, n, MAX_FRAMES, gain);
        in.gain.insert(in.gain.end(), gain, gain + MAX_FRAMES);
        for (int h : in.partials)
            in.level.push_back(Access::MorphLevel(*s, n, h));
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
            r.counters["budget%"] = benchmark::Counter(100.0 * seconds / kBudgetSeconds);
            seconds_[r.benchmark_name()] = seconds;
            if (work <= 0.0) {
                r.counters["us/buffer"] = benchmark::Counter(seconds * 1e6);
                continue;
            }
            const double ns = seconds * 1e9 / work;
            r.counters["ns/partial-sample"] = benchmark::Counter(ns);
            if (r.benchmark_name() == kRoofline)
                rooflineNs_ = ns;
            if (rooflineNs_ > 0.0)
                r.counters["x-roofline"] = benchmark::Counter(ns / rooflineNs_);
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
        const double normal = find("Render/Fast/Levels/Normal/real_time");
        if (normal > 0.0) {
            std::printf("\nLevels, 64 notes x 128 partials: subnormal %.2f x and smallest normal %.2f x the cost "
                        "of ordinary levels\n",
                        find("Render/Fast/Levels/Subnormal/real_time") / normal,
                        find("Render/Fast/Levels/SmallestNormal/real_time") / normal);
        }
        const double limitOff = find("Render/Fast/BandLimit/Off/real_time");
        const double limitOn = find("Render/Fast/BandLimit/On/real_time");
        if (limitOff > 0.0 && limitOn > 0.0)
            std::printf("\nBand limit, 128 notes x 128 partials: on %.3f ms, off %.3f ms: on costs %.2f x off\n",
                        limitOn * 1e3, limitOff * 1e3, limitOn / limitOff);
        const double fast = find("Render/Fast/Worst/real_time");
        if (fast <= 0.0)
            return;
        const double reference = find("Render/Reference/Worst/real_time");
        const double stk = find("Peer/Stk/Worst/real_time");
        const double volk = find("Peer/Volk/Worst/real_time");
        const double single = find(std::string("Render/") + RenderVariantName(FastestRenderVariant()) + "/Worst/real_time");
        const double roofline = find(kRoofline);
        std::printf("\nWorst case, 128 notes x 128 partials x 256 frames (Fast = %s, kernel %s):\n",
                    RenderVariantName(ChosenRenderVariant()), RenderVariantName(FastestRenderVariant()));
        std::printf("  Fast: %.3f ms = %.1f%% of the %.1f ms budget\n", fast * 1e3, 100.0 * fast / kBudgetSeconds,
                    kBudgetSeconds * 1e3);
        if (single > 0.0 && roofline > 0.0)
            std::printf("  one core (%s): %.3f ms = %.2f x the roofline (%.3f ms)\n",
                        RenderVariantName(FastestRenderVariant()), single * 1e3, single / roofline, roofline * 1e3);
        if (reference > 0.0)
            std::printf("  %.1f x faster than Reference (%.3f ms)\n", reference / fast, reference * 1e3);
        if (stk > 0.0)
            std::printf("  %.1f x faster than Stk (%.3f ms)\n", stk / fast, stk * 1e3);
        if (volk > 0.0)
            std::printf("  %.1f x faster than Volk (%.3f ms)\n", volk / fast, volk * 1e3);
    }

private:
    static constexpr const char* kRoofline = "Render/Roofline/Worst/real_time";
    std::map<std::string, double> seconds_;
    double rooflineNs_ = 0.0;
};

} // namespace

int main(int argc, char** argv)
{
    const auto tune = [](benchmark::internal::Benchmark* b) { b->UseRealTime()->Unit(benchmark::kMillisecond); };
    // The roofline first: every later row gives its ratio to it.
    tune(benchmark::RegisterBenchmark("Render/Roofline/Worst", BenchRoofline, kCases[0]));
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
    for (const BenchCase& c : kLevelCases)
        tune(benchmark::RegisterBenchmark(("Render/Fast/" + c.name).c_str(), BenchRender, c, true,
                                          RenderVariant::Reference));
    for (const BenchCase& c : kBandLimitCases)
        tune(benchmark::RegisterBenchmark(("Render/Fast/" + c.name).c_str(), BenchRender, c, true,
                                          RenderVariant::Reference));
    for (const BenchCase& c : ScaleCases())
        tune(benchmark::RegisterBenchmark(("Render/Fast/" + c.name).c_str(), BenchRender, c, true,
                                          RenderVariant::Reference));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    VerdictReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
