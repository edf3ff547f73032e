// The plugin's LV2 code (the framework's wrapper, the plugin, the engine)
// built with ThreadSanitizer: the audio thread runs blocks that ask for
// every state to be sent to the editor while the worker thread takes new
// spectra from the editor (patch:Set), as a host runs them at once. Any
// data race between the two ends the test.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "PluginParameters.h"
#include "PluginState.h"
#include "plugin/DpfLv2Host.h"
#include "support/PatchSetAtom.h"

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
        sets.push_back(PatchSetAtom(&urids.map, k == 0 ? "urn:marovane:synth#attack" : "urn:marovane:synth#sustain", text));
    }
    // Tunings too: a scale, a mapping, another scale, one that does not
    // read (kept out) and twelve equal steps, read on the worker and handed
    // to the render whole.
    for (const auto& [key, text] : std::vector<std::pair<const char*, std::string>>{
             {"urn:marovane:synth#scale", "Quarter tones\n2\n50.0\n2/1\n"},
             {"urn:marovane:synth#keymap", "2\n0\n127\n60\n70\n440.0\n2\n0\nx\n"},
             {"urn:marovane:synth#scale", "Fifths\n1\n3/2\n"},
             {"urn:marovane:synth#scale", "Broken\n3\n"},
             {"urn:marovane:synth#scale", ""}})
        sets.push_back(PatchSetAtom(&urids.map, key, text));
    const LV2_URID keyValue = urids.Id("urn:marovane:synth#KeyValueState");
    const char request[] = "__dpf_ui_data__";

    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 300; ++i) {
            const auto& job = sets[static_cast<size_t>(i) % sets.size()];
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
