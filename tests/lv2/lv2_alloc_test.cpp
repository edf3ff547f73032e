// run() allocates nothing: this program replaces the C library's allocator
// with one that counts the calls made on this thread while the plugin runs,
// and plays the plugin hard: hundreds of blocks of every size, with notes,
// wheels, the pedal, controller sweeps, control port changes, and new sounds
// from the editor (its state messages on the events input, which run() hands
// to the host's worker: the worker may allocate, run() may not).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <malloc.h>

#include "PluginState.h"
#include "support/CountingAllocator.h"
#include "lv2/LilvHost.h"

namespace {

using namespace lv2host;
using namespace marovane_test;

TEST(Lv2Allocation, RunAllocatesNothing)
{
    World world;
    ASSERT_NE(world.Plugin(), nullptr);
    // The counter sees what the plugin does: making an instance allocates.
    countAllocations = true;
    Instance plugin(world, 44100);
    countAllocations = false;
    ASSERT_TRUE(plugin.Ok());
    EXPECT_GT(allocationCalls, 0u) << "the counting allocator is not the one the plugin uses";

    // New sounds for the editor to send, made before anything is counted.
    std::vector<std::string> spectra;
    for (int s = 0; s < 8; ++s) {
        HarmonicSpectrum spectrum{};
        for (int h = 0; h < NUM_PARTIALS; ++h)
            spectrum.level[h] = static_cast<float>((h * 7 + s * 3) % 11) / 40.0f;
        spectra.push_back(marovane_plugin::SpectrumText(spectrum));
    }

    allocationCalls = 0;
    aroundRun = [](bool entering) { countAllocations = entering; };
    const uint32_t sizes[] = {256, 1, 100, 8192, 0, 511, 4096, 37};
    const std::vector<std::string> symbols = ControlSymbols();
    for (int block = 0; block < 400; ++block) {
        const uint32_t n = sizes[block % 8];
        std::vector<std::pair<int64_t, std::vector<uint8_t>>> events;
        for (int e = 0; e < 40; ++e) {
            const auto note = static_cast<uint8_t>((block * 7 + e * 13) % 128);
            const int64_t at = n ? (e * 31) % n : 0;
            events.push_back({at, {static_cast<uint8_t>(e % 3 ? 0x90 : 0x80), note, 100}});
        }
        events.push_back({0, {0xE0, 0, static_cast<uint8_t>(block % 128)}});
        events.push_back({0, {0xB0, 1, static_cast<uint8_t>(block % 128)}});
        events.push_back({0, {0xB0, 64, static_cast<uint8_t>(block % 2 ? 127 : 0)}});
        if (block % 50 == 49)
            events.push_back({0, {0xB0, 123, 0}});
        plugin.SetControl(symbols[block % symbols.size()], static_cast<float>(block % 23) * (block % 2 ? 1.0f : -0.5f));
        // A new sound from the editor every few blocks: both spectra as
        // hosts see them (patch:Set), now and then as the framework's own
        // key-value message.
        if (block % 5 == 2) {
            const std::string& text = spectra[static_cast<size_t>(block) % spectra.size()];
            if (block % 3 == 0) {
                plugin.SendKeyValue(marovane_plugin::kAttackStateKey, text);
                plugin.SendKeyValue(marovane_plugin::kSustainStateKey, text);
            } else {
                plugin.SendState(kAttackStateKey, text);
                plugin.SendState(kSustainStateKey, text);
            }
        }
        plugin.RunBlock(n, events);
    }
    aroundRun = nullptr;
    EXPECT_EQ(allocationCalls, 0u) << "allocator calls inside run()";
    // The messages reached the worker and were taken.
    EXPECT_EQ(plugin.WorkDone(), 2u * 80u);
    EXPECT_EQ(plugin.WorkFailed(), 0u);
}

} // namespace
