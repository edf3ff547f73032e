// run() allocates nothing on any of its paths: this program replaces the C
// library's allocator with one that counts the calls made on this thread
// while the plugin's LV2 module runs, and plays it with notes, controllers
// and pitch bend, every control port moving, a spectrum from the editor
// (patch:Set, handed to the worker) and the editor asking for every state
// (which run() sends on the events output), in blocks of several sizes. The
// worker's jobs run between blocks, where allocating is allowed.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <string>

#include "PluginParameters.h"
#include "PluginState.h"
#include "plugin/DpfLv2Host.h"
#include "support/CountingAllocator.h"
#include "support/PatchSetAtom.h"

using namespace marovane_test;
using namespace marovane_plugin;

TEST(PluginLv2Rt, RunAllocatesNothing)
{
    Lv2Module module(MAROVANE_PLUGIN_LV2_MODULE);
    UridMap urids;
    constexpr uint32_t kMaxFrames = 1024;
    DpfLv2Instance plugin(module.Descriptor(), urids, 48000, kMaxFrames, kPluginParamCount);
    for (uint32_t i = 0; i < kPluginParamCount; ++i)
        if (kPluginParams[i].kind == PluginParamKind::Sound)
            plugin.Control(i) = ::Parameter(kPluginParams[i].sound).defaultValue;
    plugin.Activate();

    HarmonicSpectrum spectrum{};
    for (int h = 0; h < NUM_PARTIALS; ++h)
        spectrum.level[h] = 0.3f / static_cast<float>(h + 1);
    const std::string text = SpectrumText(spectrum);
    const std::vector<uint8_t> patchSet = PatchSetAtom(&urids.map, "urn:marovane:synth#sustain", text);
    const auto* setAtom = reinterpret_cast<const LV2_Atom*>(patchSet.data());
    const LV2_URID keyValue = urids.Id("urn:marovane:synth#KeyValueState");
    const char request[] = "__dpf_ui_data__";
    const uint32_t sizes[] = {1, 64, 256, 300, 512, 1024};

    size_t jobs = 0;
    bool sent = false;
    for (int b = 0; b < 240; ++b) {
        const uint32_t frames = sizes[static_cast<size_t>(b) % std::size(sizes)];
        plugin.ClearEvents();
        const uint8_t note = static_cast<uint8_t>(36 + b % 60);
        plugin.AddMidi(0, 0x90 | (b % 16), note, 100);
        plugin.AddMidi(frames / 2, 0xB0, 1, static_cast<uint8_t>(b % 128));
        plugin.AddMidi(frames / 2, 0xE0, static_cast<uint8_t>(b % 128), 64);
        plugin.AddMidi(frames - 1, 0x80, static_cast<uint8_t>(36 + (b + 30) % 60), 0);
        if (b % 7 == 0)
            plugin.AddMidi(0, 0xB0, 64, b % 14 == 0 ? 127 : 0);
        if (b % 5 == 0)
            plugin.AddEvent(0, setAtom->type, setAtom + 1, setAtom->size);
        if (b % 3 == 0)
            plugin.AddEvent(0, keyValue, request, sizeof request);
        for (uint32_t i = 0; i < kPluginParamCount; ++i) {
            const PluginParam& p = kPluginParams[i];
            const float lo = p.kind == PluginParamKind::Sound ? ::Parameter(p.sound).minimum : 0.0f;
            const float hi = p.kind == PluginParamKind::Sound ? ::Parameter(p.sound).maximum : 1.0f;
            plugin.Control(i) = lo + (hi - lo) * static_cast<float>((b * 7 + static_cast<int>(i)) % 10) / 9.0f;
        }
        countAllocations = true;
        plugin.Run(frames);
        countAllocations = false;
        EXPECT_EQ(allocationCalls, 0u) << "block " << b;
        allocationCalls = 0;
        sent = sent || plugin.EventsOutBytes().find(text) != std::string::npos;
        jobs += plugin.PendingJobs();
        plugin.RunWorker();
    }
    EXPECT_EQ(jobs, 48u); // every patch:Set reached the worker
    EXPECT_TRUE(sent) << "the editor was sent the new spectrum";
}
