// The plugin's LV2 code (the framework's wrapper, the plugin, the engine)
// built with ThreadSanitizer: the audio thread runs blocks that ask for
// every state to be sent to the editor while the worker thread takes new
// spectra from the editor (patch:Set), as a host runs them at once. Any
// data race between the two ends the test.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "PluginParameters.h"
#include "PluginState.h"
#include "plugin/DpfLv2Host.h"

extern "C" const LV2_Descriptor* lv2_descriptor(uint32_t index);

using namespace marovane_test;
using namespace marovane_plugin;

TEST(PluginLv2Threads, WorkerAndRunAtOnce)
{
    UridMap urids;
    DpfLv2Instance plugin(lv2_descriptor(0), urids, 44100, 256, kPluginParamCount);
    plugin.Activate();

    // Two spectra the editor alternates between, as patch:Set atoms.
    std::vector<std::vector<uint8_t>> sets;
    for (int k = 0; k < 2; ++k) {
        HarmonicSpectrum s{};
        for (int h = 0; h < NUM_PARTIALS; ++h)
            s.level[h] = k == 0 ? 0.5f / static_cast<float>(h + 1) : 0.01f * static_cast<float>(h % 9);
        const std::string text = SpectrumText(s);
        std::vector<uint8_t> buffer(text.size() + 256);
        LV2_Atom_Forge forge;
        lv2_atom_forge_init(&forge, &urids.map);
        lv2_atom_forge_set_buffer(&forge, buffer.data(), buffer.size());
        LV2_Atom_Forge_Frame frame;
        lv2_atom_forge_object(&forge, &frame, 0, urids.Id(LV2_PATCH__Set));
        lv2_atom_forge_key(&forge, urids.Id(LV2_PATCH__property));
        lv2_atom_forge_urid(&forge, urids.Id(k == 0 ? "urn:marovane:synth#attack" : "urn:marovane:synth#sustain"));
        lv2_atom_forge_key(&forge, urids.Id(LV2_PATCH__value));
        lv2_atom_forge_string(&forge, text.c_str(), static_cast<uint32_t>(text.size()));
        lv2_atom_forge_pop(&forge, &frame);
        buffer.resize(sizeof(LV2_Atom) + reinterpret_cast<LV2_Atom*>(buffer.data())->size);
        sets.push_back(buffer);
    }
    const LV2_URID keyValue = urids.Id("urn:marovane:synth#KeyValueState");
    const char request[] = "__dpf_ui_data__";

    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 300; ++i) {
            const auto& job = sets[static_cast<size_t>(i) % 2];
            plugin.Worker()->work(plugin.Handle(), nullptr, nullptr, static_cast<uint32_t>(job.size()), job.data());
        }
        done = true;
    });
    int runs = 0;
    while (!done || runs < 300) {
        plugin.ClearEvents();
        plugin.AddEvent(0, keyValue, request, sizeof request);
        plugin.Run(256);
        ++runs;
    }
    worker.join();
    EXPECT_GE(runs, 300);
}
