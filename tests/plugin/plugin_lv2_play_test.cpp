// The plugin's LV2 module played against the engine given the same sound and
// events: at the rate the host instantiates it with, with the host's mod
// wheel control and MIDI controller 1 both moving the tremolo's depth, with
// the volume the host sets; and
// refusing to start at a rate the engine does not run at.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "PluginParameters.h"
#include "plugin/DpfLv2Host.h"
#include "synth/Engine.h"

using namespace marovane_test;
using namespace marovane_plugin;

namespace {
constexpr uint32_t kBlock = 256;
constexpr uint32_t kModWheel = kModWheelParamIndex;
} // namespace

TEST(PluginLv2Play, FollowsTheRateTheModWheelAndControllerOne)
{
    static_assert(kPluginParams[kModWheel].kind == PluginParamKind::ModWheel);
    struct Case {
        double rate;
        float wheel;    // the host's mod wheel control from block 2 on
        int controller; // CC 1 at block 6, frame 40 (or none: -1)
        float volume;   // dB, from the start
    };
    const Case cases[] = {{48000, 0.0f, -1, 0.0f},   {96000, 0.75f, -1, -12.0f}, {44100, 0.5f, 127, 6.0f},
                          {8000, 1.0f, 0, -60.0f},   {192000, 0.25f, 64, -3.5f}};
    Lv2Module module(MAROVANE_PLUGIN_LV2_MODULE);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        UridMap urids;
        DpfLv2Instance plugin(module.Descriptor(), urids, c.rate, kBlock, kPluginParamCount);
        Engine engine(EngineOptions{static_cast<int32_t>(c.rate), false});
        for (uint32_t i = 0; i < kPluginParamCount; ++i)
            if (kPluginParams[i].kind == PluginParamKind::Sound)
                plugin.Control(i) = ::Parameter(kPluginParams[i].sound).defaultValue;
        // A tremolo to hear the depth by.
        const uint32_t rate = 4, shape = 5;
        plugin.Control(rate) = 9.0f;
        plugin.Control(shape) = 1.0f;
        const uint32_t volume = 6;
        static_assert(kPluginParams[volume].sound == ParamId::Volume);
        plugin.Control(volume) = c.volume;
        engine.SetParameter(ParamId::Volume, c.volume);
        engine.SetParameter(kPluginParams[rate].sound, 9.0f);
        engine.SetParameter(kPluginParams[shape].sound, 1.0f);
        plugin.Activate();
        std::vector<float> left(kBlock), right(kBlock);
        for (int b = 0; b < 12; ++b) {
            std::vector<EngineEvent> events;
            if (b == 0) {
                plugin.AddMidi(0, 0x90, 57, 110);
                events.push_back({0, 3, {0x90, 57, 110}});
            }
            if (b == 2) {
                plugin.Control(kModWheel) = c.wheel;
                engine.Synth().SetModWheelDepth(c.wheel);
            }
            if (b == 6 && c.controller >= 0) {
                plugin.AddMidi(40, 0xB3, 1, static_cast<uint8_t>(c.controller));
                events.push_back({40, 3, {0xB3, 1, static_cast<uint8_t>(c.controller)}});
            }
            plugin.Run(kBlock);
            plugin.ClearEvents();
            engine.Render(left.data(), right.data(), kBlock, events.data(), events.size());
            ASSERT_EQ(std::memcmp(plugin.Left(), left.data(), sizeof(float) * kBlock), 0) << "block " << b;
            ASSERT_EQ(std::memcmp(plugin.Right(), right.data(), sizeof(float) * kBlock), 0) << "block " << b;
        }
    }
}

TEST(PluginLv2Play, RefusesARateTheEngineDoesNotRunAt)
{
    Lv2Module module(MAROVANE_PLUGIN_LV2_MODULE);
    for (double rate : {0.0, 7999.0, 192001.0, 384000.0}) {
        UridMap urids;
        EXPECT_THROW(DpfLv2Instance(module.Descriptor(), urids, rate, kBlock, kPluginParamCount), std::runtime_error)
            << rate;
    }
}

// A new rate through the options interface (set() runs while nothing else
// does): the plugin plays at it, or silence at one the engine does not run at.
TEST(PluginLv2Play, FollowsARateChangedThroughTheOptions)
{
    Lv2Module module(MAROVANE_PLUGIN_LV2_MODULE);
    for (float rate : {48000.0f, 22050.0f, 384000.0f}) {
        SCOPED_TRACE(rate);
        UridMap urids;
        DpfLv2Instance plugin(module.Descriptor(), urids, 44100, kBlock, kPluginParamCount);
        for (uint32_t i = 0; i < kPluginParamCount; ++i)
            if (kPluginParams[i].kind == PluginParamKind::Sound)
                plugin.Control(i) = ::Parameter(kPluginParams[i].sound).defaultValue;
        const auto* options =
            static_cast<const LV2_Options_Interface*>(module.Descriptor()->extension_data(LV2_OPTIONS__interface));
        ASSERT_NE(options, nullptr);
        const LV2_Options_Option set[2] = {{LV2_OPTIONS_INSTANCE, 0, urids.Id(LV2_PARAMETERS__sampleRate),
                                            sizeof(float), urids.Id(LV2_ATOM__Float), &rate},
                                           {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
        options->set(plugin.Handle(), set);
        const bool supported = rate <= 192000;
        Engine engine(EngineOptions{static_cast<int32_t>(rate), false});
        plugin.Activate();
        std::vector<float> left(kBlock), right(kBlock);
        for (int b = 0; b < 8; ++b) {
            const EngineEvent on{0, 3, {0x90, 69, 100}};
            if (b == 0)
                plugin.AddMidi(0, 0x90, 69, 100);
            plugin.Run(kBlock);
            plugin.ClearEvents();
            engine.Render(left.data(), right.data(), kBlock, &on, b == 0 ? 1 : 0);
            if (!supported)
                std::fill(left.begin(), left.end(), 0.0f);
            ASSERT_EQ(std::memcmp(plugin.Left(), left.data(), sizeof(float) * kBlock), 0) << "block " << b;
        }
    }
}
