// marovane-bench-plugin: what one block costs in the plugin's run() against
// the engine's block call alone, for the same sound, notes and block, in one
// run:
//   Engine   Engine::Render with no helper thread (the render the plugin uses);
//   Plugin   the plugin's run() through its LV2 entry (the framework-built
//            module, loaded from the build tree with the URID map, options
//            and worker a host gives it): the engine's block call plus the
//            framework's reading of ports and events, the translation of
//            events and the guard against non-finite samples.
// After the table, each case's Plugin / Engine ratio of CPU times (the least
// of the repetitions, with --benchmark_repetitions). The machine's load moves
// both rows alike.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "PluginParameters.h"
#include "PluginState.h"
#include "plugin/DpfLv2Host.h"
#include "synth/Engine.h"

namespace {

using namespace marovane_plugin;
using namespace marovane_test;

struct BenchCase {
    const char* name;
    int firstNote;
    int lastNote;
    uint32_t frames;
};
const BenchCase kCases[] = {{"Notes16/256", 48, 63, 256}, {"Worst/256", 0, 127, 256}, {"Worst/1024", 0, 127, 1024}};

// The bench's sound: every partial sounding, attack and sustain spectra apart.
void Spectra(HarmonicSpectrum& attack, HarmonicSpectrum& sustain)
{
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        attack.level[h] = 0.5f / static_cast<float>(h + 1) / 128.0f;
        sustain.level[h] = 0.25f / static_cast<float>(h + 1) / 128.0f;
    }
}
const std::pair<ParamId, float> kSound[] = {{ParamId::Attack, 5}, {ParamId::Decay, 20}, {ParamId::Sustain, 80}};

void EngineRender(benchmark::State& state, BenchCase c)
{
    auto e = std::make_unique<Engine>(EngineOptions{44100, false});
    HarmonicSpectrum attack, sustain;
    Spectra(attack, sustain);
    e->Synth().SetSpectra(attack.level, sustain.level);
    for (const auto& [id, value] : kSound)
        e->SetParameter(id, value);
    std::vector<EngineEvent> notes;
    for (int n = c.firstNote; n <= c.lastNote; ++n)
        notes.push_back({0, 3, {0x90, static_cast<uint8_t>(n), 127}});
    std::vector<float> left(c.frames), right(c.frames);
    e->Render(left.data(), right.data(), c.frames, notes.data(), notes.size());
    for (int b = 0; b < 7; ++b)
        e->Render(left.data(), right.data(), c.frames, nullptr, 0);
    for (auto _ : state) {
        e->Render(left.data(), right.data(), c.frames, nullptr, 0);
        benchmark::DoNotOptimize(left.data());
        benchmark::ClobberMemory();
    }
}

// The state a host restores: both spectra as the plugin's text.
struct TextState {
    UridMap* urids;
    std::string attack, sustain;
    static const void* Retrieve(LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
    {
        auto* self = static_cast<TextState*>(h);
        const std::string* text = key == self->urids->Id("urn:marovane:synth#attack")    ? &self->attack
                                  : key == self->urids->Id("urn:marovane:synth#sustain") ? &self->sustain
                                                                                         : nullptr;
        if (!text)
            return nullptr;
        *size = text->size() + 1;
        *type = self->urids->Id(LV2_ATOM__String);
        *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
        return text->c_str();
    }
};

void Plugin(benchmark::State& state, BenchCase c)
{
    std::unique_ptr<Lv2Module> module;
    try {
        module = std::make_unique<Lv2Module>(MAROVANE_PLUGIN_LV2_MODULE);
    } catch (const std::exception& e) {
        state.SkipWithError(e.what());
        return;
    }
    UridMap urids;
    DpfLv2Instance plugin(module->Descriptor(), urids, 44100, c.frames, kPluginParamCount);
    for (uint32_t i = 0; i < kPluginParamCount; ++i) {
        const PluginParam& p = kPluginParams[i];
        plugin.Control(i) = p.kind == PluginParamKind::Sound ? ::Parameter(p.sound).defaultValue : 0.0f;
        for (const auto& [id, value] : kSound)
            if (p.kind == PluginParamKind::Sound && p.sound == id)
                plugin.Control(i) = value;
    }
    HarmonicSpectrum attack, sustain;
    Spectra(attack, sustain);
    TextState text{&urids, SpectrumText(attack), SpectrumText(sustain)};
    plugin.State()->restore(plugin.Handle(), &TextState::Retrieve, &text, 0, nullptr);
    plugin.Activate();
    for (int n = c.firstNote; n <= c.lastNote; ++n)
        plugin.AddMidi(0, 0x90, static_cast<uint8_t>(n), 127);
    plugin.Run(c.frames);
    plugin.ClearEvents();
    for (int b = 0; b < 7; ++b)
        plugin.Run(c.frames);
    for (auto _ : state) {
        plugin.Run(c.frames);
        benchmark::DoNotOptimize(plugin.Left());
        benchmark::ClobberMemory();
    }
}

// The table as usual, then Plugin / Engine per case.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
                // the least of the repetitions: what the load added least to
                auto [it, added] = cpu_.emplace(r.benchmark_name(), r.GetAdjustedCPUTime());
                if (!added && r.GetAdjustedCPUTime() < it->second)
                    it->second = r.GetAdjustedCPUTime();
            }
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const BenchCase& c : kCases) {
            const auto engine = cpu_.find(std::string("Engine/") + c.name);
            const auto plugin = cpu_.find(std::string("Plugin/") + c.name);
            if (engine != cpu_.end() && plugin != cpu_.end() && engine->second > 0)
                std::printf("Plugin / Engine %-12s %.3f\n", c.name, plugin->second / engine->second);
        }
    }

private:
    std::map<std::string, double> cpu_;
};

} // namespace

int main(int argc, char** argv)
{
    for (const BenchCase& c : kCases) {
        benchmark::RegisterBenchmark((std::string("Engine/") + c.name).c_str(), EngineRender, c);
        benchmark::RegisterBenchmark((std::string("Plugin/") + c.name).c_str(), Plugin, c);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
