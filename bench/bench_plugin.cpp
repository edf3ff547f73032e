// marovane-bench-plugin: what one 256-frame block costs in the LV2 plugin
// against the program's own render of the same sound, in one run:
//   Program        SynthState::Render, with the helper thread the program
//                  starts on a machine of two cores or more;
//   EngineAlone    the engine's block call with no helper thread, the render
//                  the plugin uses;
//   Plugin         the plugin's run(), loaded from the build tree as a host
//                  loads it: the engine's block call plus the translation of
//                  ports and events and the guard against non-finite samples.
// Compare the times of one case across the three rows; the machine's load
// moves all three alike.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../lv2/Ports.h"
#include "synth/Engine.h"
#include "synth/RenderFast.h"
#include "synth/SynthState.h"

namespace {

struct BenchCase {
    const char* name;
    int firstNote;
    int lastNote;
};
const BenchCase kCases[] = {{"Notes16", 48, 63}, {"Worst", 0, 127}};

// The bench's sound: every partial sounding, attack and sustain spectra apart.
void Spectra(float* attack, float* sustain)
{
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        attack[h] = 0.5f / static_cast<float>(h + 1) / 128.0f;
        sustain[h] = 0.25f / static_cast<float>(h + 1) / 128.0f;
    }
}

void SetSound(SynthState& s, const BenchCase& c)
{
    float attack[NUM_PARTIALS], sustain[NUM_PARTIALS];
    Spectra(attack, sustain);
    s.SetSpectra(attack, sustain);
    s.SetParameter(ParamId::Attack, 5);
    s.SetParameter(ParamId::Decay, 20);
    s.SetParameter(ParamId::Sustain, 80);
    for (int n = c.firstNote; n <= c.lastNote; ++n)
        s.StartNote(n);
}

void Program(benchmark::State& state, BenchCase c)
{
    auto s = std::make_unique<SynthState>();
    SetSound(*s, c);
    float out[2 * MAX_FRAMES];
    for (int b = 0; b < 8; ++b)
        RenderWith(*s, ChosenRenderVariant(), out, MAX_FRAMES);
    for (auto _ : state) {
        RenderWith(*s, ChosenRenderVariant(), out, MAX_FRAMES);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}

void EngineAlone(benchmark::State& state, BenchCase c)
{
    auto e = std::make_unique<Engine>(EngineOptions{44100, false});
    SetSound(e->Synth(), c);
    float out[2 * MAX_FRAMES];
    for (int b = 0; b < 8; ++b)
        e->RenderInterleaved(out, MAX_FRAMES, nullptr, 0);
    for (auto _ : state) {
        e->RenderInterleaved(out, MAX_FRAMES, nullptr, 0);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
}

// The host side of the plugin: a URID map and a state to restore from.
struct Host {
    std::map<std::string, LV2_URID> ids;
    LV2_URID_Map map{this, [](LV2_URID_Map_Handle h, const char* uri) {
                         auto& ids = static_cast<Host*>(h)->ids;
                         return ids.emplace(uri, static_cast<LV2_URID>(ids.size() + 1)).first->second;
                     }};
    LV2_Feature mapFeature{LV2_URID__map, &map};
    const LV2_Feature* features[2] = {&mapFeature, nullptr};
    LV2_URID Id(const char* uri) { return map.map(this, uri); }

    struct Spectrum {
        LV2_Atom_Vector_Body body;
        float levels[NUM_PARTIALS];
    } attack{}, sustain{};
    int32_t version = marovane_lv2::kStateVersion;
    static const void* Retrieve(LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
    {
        auto* self = static_cast<Host*>(h);
        *flags = LV2_STATE_IS_POD;
        if (key == self->Id(marovane_lv2::kStateVersionKey)) {
            *size = sizeof self->version;
            *type = self->Id(LV2_ATOM__Int);
            return &self->version;
        }
        Spectrum* s = key == self->Id(marovane_lv2::kAttackSpectrumKey)    ? &self->attack
                      : key == self->Id(marovane_lv2::kSustainSpectrumKey) ? &self->sustain
                                                                             : nullptr;
        if (!s)
            return nullptr;
        *size = sizeof *s;
        *type = self->Id(LV2_ATOM__Vector);
        return s;
    }
};

void Plugin(benchmark::State& state, BenchCase c)
{
    void* module = dlopen(MAROVANE_LV2_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        state.SkipWithError(dlerror());
        return;
    }
    auto descriptorOf = reinterpret_cast<LV2_Descriptor_Function>(dlsym(module, "lv2_descriptor"));
    const LV2_Descriptor* d = descriptorOf(0);
    Host host;
    LV2_Handle h = d->instantiate(d, 44100, "", host.features);
    std::vector<float> left(MAX_FRAMES), right(MAX_FRAMES);
    float controls[marovane_lv2::kControlCount] = {5, 20, 80, 10, 5, 0};
    std::vector<uint64_t> midi(8192);
    d->connect_port(h, marovane_lv2::kMidiIn, midi.data());
    d->connect_port(h, marovane_lv2::kOutLeft, left.data());
    d->connect_port(h, marovane_lv2::kOutRight, right.data());
    for (uint32_t i = 0; i < marovane_lv2::kControlCount; ++i)
        d->connect_port(h, marovane_lv2::kFirstControl + i, &controls[i]);
    host.attack.body = host.sustain.body = {sizeof(float), host.Id(LV2_ATOM__Float)};
    Spectra(host.attack.levels, host.sustain.levels);
    static_cast<const LV2_State_Interface*>(d->extension_data(LV2_STATE__interface))
        ->restore(h, &Host::Retrieve, &host, 0, host.features);
    d->activate(h);

    // The notes in the first block, then empty sequences.
    auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(midi.data());
    seq->atom.type = host.Id(LV2_ATOM__Sequence);
    seq->body = {0, 0};
    uint32_t size = sizeof(LV2_Atom_Sequence_Body);
    for (int n = c.firstNote; n <= c.lastNote; ++n) {
        char* at = reinterpret_cast<char*>(midi.data()) + sizeof(LV2_Atom) + size;
        const LV2_Atom_Event ev{{0}, {3, host.Id(LV2_MIDI__MidiEvent)}};
        const uint8_t on[3] = {0x90, static_cast<uint8_t>(n), 127};
        std::memcpy(at, &ev, sizeof ev);
        std::memcpy(at + sizeof ev, on, 3);
        size += static_cast<uint32_t>(lv2_atom_pad_size(sizeof(LV2_Atom_Event) + 3));
    }
    seq->atom.size = size;
    d->run(h, MAX_FRAMES);
    seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
    for (int b = 0; b < 7; ++b)
        d->run(h, MAX_FRAMES);
    for (auto _ : state) {
        d->run(h, MAX_FRAMES);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
    d->deactivate(h);
    d->cleanup(h);
    dlclose(module);
}

} // namespace

int main(int argc, char** argv)
{
    for (const BenchCase& c : kCases) {
        benchmark::RegisterBenchmark((std::string("Program/") + c.name).c_str(), Program, c);
        benchmark::RegisterBenchmark((std::string("EngineAlone/") + c.name).c_str(), EngineAlone, c);
        benchmark::RegisterBenchmark((std::string("Plugin/") + c.name).c_str(), Plugin, c);
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
