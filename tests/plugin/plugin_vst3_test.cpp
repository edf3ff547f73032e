// The plugin's VST3 module in a small host of the tests' own (the
// framework's VST3 headers): the parameters it offers (its own, then the
// MIDI controllers the engine acts on, 16 channels each), the host's MIDI
// mapping of those controllers, its first parameter read and set through
// the edit controller, and its output at the rate the host sets up, against
// the engine at that rate.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "PluginParameters.h"
#include "synth/Engine.h"
#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/events.h"
#include "travesty/factory.h"

namespace {

using namespace marovane_plugin;

constexpr int32_t kBlock = 256;
// The edit controller is a class of its own (the editor talks to the sound
// only through parameters and state); its parameters: the framework's two
// (buffer size, sample rate), CC 1, 64, 123 and pitch bend on 16 channels,
// then the plugin's own.
constexpr uint32_t kFrameworkParams = 2;
constexpr uint32_t kControllerParams = 4 * 16;
constexpr uint32_t kFirstPluginParam = kFrameworkParams + kControllerParams;

// The host's event list: the plugin reads it in process().
struct EventList {
    v3_event_list_cpp* vtable;
    std::vector<v3_event> events;

    static EventList* Of(void* self) { return *static_cast<EventList**>(self) == nullptr ? nullptr : Self(self); }
    static EventList* Self(void* self) { return reinterpret_cast<EventList*>(static_cast<v3_event_list_cpp**>(self)); }
    static v3_result V3_API Query(void*, const v3_tuid, void** obj)
    {
        *obj = nullptr;
        return V3_NO_INTERFACE;
    }
    static uint32_t V3_API Ref(void*) { return 1; }
    static uint32_t V3_API Count(void* self) { return static_cast<uint32_t>(Self(self)->events.size()); }
    static v3_result V3_API Get(void* self, int32_t i, v3_event* e)
    {
        *e = Self(self)->events.at(static_cast<size_t>(i));
        return V3_OK;
    }
    static v3_result V3_API Add(void*, v3_event*) { return V3_OK; }
};
v3_event_list_cpp gEventListVtable = [] {
    v3_event_list_cpp v{};
    v.query_interface = &EventList::Query;
    v.ref = &EventList::Ref;
    v.unref = &EventList::Ref;
    v.list.get_event_count = &EventList::Count;
    v.list.get_event = &EventList::Get;
    v.list.add_event = &EventList::Add;
    return v;
}();

class Vst3Plugin {
public:
    Vst3Plugin()
    {
        module_ = dlopen(MAROVANE_PLUGIN_VST3_MODULE, RTLD_NOW | RTLD_LOCAL);
        if (!module_)
            throw std::runtime_error(dlerror());
        auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(module_, "ModuleEntry"));
        auto factoryOf = reinterpret_cast<v3_plugin_factory_cpp** (*)()>(dlsym(module_, "GetPluginFactory"));
        if (!entry || !factoryOf || !entry(module_))
            throw std::runtime_error("not a VST3 module");
        factory_ = factoryOf();
        v3_class_info info{};
        (*factory_)->v1.get_class_info(factory_, 0, &info);
        void* obj = nullptr;
        if ((*factory_)->v1.create_instance(factory_, info.class_id, v3_component_iid, &obj) != V3_OK)
            throw std::runtime_error("no component");
        component_ = static_cast<v3_component_cpp**>(obj);
        (*component_)->base.initialize(component_, nullptr);
        (*factory_)->v1.get_class_info(factory_, 1, &info);
        if ((*factory_)->v1.create_instance(factory_, info.class_id, v3_edit_controller_iid, &obj) != V3_OK)
            throw std::runtime_error("no edit controller");
        controller_ = static_cast<v3_edit_controller_cpp**>(obj);
        (*controller_)->base.initialize(controller_, nullptr);
        (*component_)->query_interface(component_, v3_audio_processor_iid, &obj);
        processor_ = static_cast<v3_audio_processor_cpp**>(obj);
        (*controller_)->query_interface(controller_, v3_midi_mapping_iid, &obj);
        mapping_ = static_cast<v3_midi_mapping_cpp**>(obj);
    }
    ~Vst3Plugin()
    {
        (*processor_)->unref(processor_);
        (*controller_)->base.terminate(controller_);
        (*controller_)->unref(controller_);
        (*component_)->base.terminate(component_);
        (*component_)->unref(component_);
        reinterpret_cast<bool (*)()>(dlsym(module_, "ModuleExit"))();
        dlclose(module_);
    }
    Vst3Plugin(const Vst3Plugin&) = delete;
    Vst3Plugin& operator=(const Vst3Plugin&) = delete;

    v3_plugin_factory_cpp** Factory() { return factory_; }
    v3_edit_controller_cpp** Controller() { return controller_; }
    v3_midi_mapping_cpp** Mapping() { return mapping_; }

    void Start(double rate)
    {
        v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, kBlock, rate};
        ASSERT_EQ((*processor_)->proc.setup_processing(processor_, &setup), V3_OK);
        (*component_)->comp.set_active(component_, true);
        (*processor_)->proc.set_processing(processor_, true);
    }
    // One block; `events` at their frames.
    void Process(float* left, float* right, const std::vector<v3_event>& events)
    {
        EventList list{&gEventListVtable, events};
        v3_event_list** eventsIn = reinterpret_cast<v3_event_list**>(&list);
        float* channels[2] = {left, right};
        v3_audio_bus_buffers out{};
        out.num_channels = 2;
        out.channel_buffers_32 = channels;
        v3_process_data data{};
        data.process_mode = V3_REALTIME;
        data.symbolic_sample_size = V3_SAMPLE_32;
        data.nframes = kBlock;
        data.num_output_buses = 1;
        data.outputs = &out;
        data.input_events = eventsIn;
        ASSERT_EQ((*processor_)->proc.process(processor_, &data), V3_OK);
    }

private:
    void* module_;
    v3_plugin_factory_cpp** factory_;
    v3_component_cpp** component_;
    v3_edit_controller_cpp** controller_;
    v3_audio_processor_cpp** processor_;
    v3_midi_mapping_cpp** mapping_;
};

std::string Title(const v3_param_info& info)
{
    std::string s;
    for (int16_t c : info.title) {
        if (c == 0)
            break;
        s += static_cast<char>(c);
    }
    return s;
}

} // namespace

TEST(PluginVst3, OffersItsParametersAndTheControllersTheEngineActsOn)
{
    Vst3Plugin plugin;
    auto* c = plugin.Controller();
    ASSERT_EQ((*c)->ctrl.get_parameter_count(c), static_cast<int32_t>(kFirstPluginParam + kPluginParamCount));
    for (uint32_t i = 0; i < kPluginParamCount; ++i) {
        v3_param_info info{};
        ASSERT_EQ((*c)->ctrl.get_parameter_info(c, static_cast<int32_t>(kFirstPluginParam + i), &info), V3_OK);
        EXPECT_EQ(info.param_id, kFirstPluginParam + i);
        const PluginParam& p = kPluginParams[i];
        EXPECT_EQ(Title(info), p.kind == PluginParamKind::ModWheel ? kModWheelLabel : ::Parameter(p.sound).label);
        EXPECT_TRUE(info.flags & V3_PARAM_CAN_AUTOMATE) << i;
    }

    auto* m = plugin.Mapping();
    const struct {
        int16_t cc;
        bool mapped;
    } controllers[] = {{1, true}, {64, true}, {123, true}, {129, true}, {7, false}, {128, false}, {0, false}};
    std::vector<v3_param_id> ids;
    for (int16_t channel : {0, 9, 15})
        for (const auto& cc : controllers) {
            v3_param_id id = 0;
            const v3_result r = (*m)->map.get_midi_controller_assignment(m, 0, channel, cc.cc, &id);
            EXPECT_EQ(r, cc.mapped ? V3_TRUE : V3_FALSE) << "channel " << channel << " cc " << cc.cc;
            if (r == V3_TRUE) {
                EXPECT_GE(id, kFrameworkParams);
                EXPECT_LT(id, kFirstPluginParam);
                ids.push_back(id);
            }
        }
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end()) << "two controllers on one parameter";
}

// Every one of the plugin's own parameters, the first one too, set and read
// back through the edit controller.
TEST(PluginVst3, EveryParameterSetsAndReadsBack)
{
    Vst3Plugin plugin;
    auto* c = plugin.Controller();
    for (uint32_t i = 0; i < kPluginParamCount; ++i) {
        const v3_param_id id = kFirstPluginParam + i;
        EXPECT_EQ((*c)->ctrl.set_parameter_normalised(c, id, 1.0), V3_OK) << i;
        EXPECT_EQ((*c)->ctrl.get_parameter_normalised(c, id), 1.0) << i;
    }
}

TEST(PluginVst3, PlaysAtTheRateTheHostSetsUp)
{
    for (double rate : {48000.0, 96000.0, 22050.0}) {
        SCOPED_TRACE(rate);
        Vst3Plugin plugin;
        plugin.Start(rate);
        Engine engine(EngineOptions{static_cast<int32_t>(rate), false});
        std::vector<float> left(kBlock), right(kBlock), wantLeft(kBlock), wantRight(kBlock);
        bool heard = false;
        for (int b = 0; b < 16; ++b) {
            std::vector<v3_event> events;
            if (b == 0) {
                v3_event on{};
                on.sample_offset = 10;
                on.type = V3_EVENT_NOTE_ON;
                on.note_on.pitch = 69;
                on.note_on.velocity = 100.0f / 127.0f;
                events.push_back(on);
            }
            plugin.Process(left.data(), right.data(), events);
            const EngineEvent e{10, 3, {0x90, 69, 100}};
            engine.Render(wantLeft.data(), wantRight.data(), kBlock, &e, b == 0 ? 1 : 0);
            ASSERT_EQ(left, wantLeft) << "block " << b;
            for (float v : left)
                heard = heard || v != 0.0f;
        }
        EXPECT_TRUE(heard);
    }
}

// At a rate the engine does not run at, silence.
TEST(PluginVst3, SilentAtARateOutsideTheEngines)
{
    Vst3Plugin plugin;
    plugin.Start(384000.0);
    std::vector<float> left(kBlock, 1.0f), right(kBlock, 1.0f);
    v3_event on{};
    on.type = V3_EVENT_NOTE_ON;
    on.note_on.pitch = 69;
    on.note_on.velocity = 1.0f;
    plugin.Process(left.data(), right.data(), {on});
    plugin.Process(left.data(), right.data(), {});
    EXPECT_EQ(left, std::vector<float>(kBlock, 0.0f));
    EXPECT_EQ(right, std::vector<float>(kBlock, 0.0f));
}

// What a host and its saved sessions know the plugin by: the class id, fixed
// once published, its name and its maker.
TEST(PluginVst3, KnownByItsPublishedClassIdNameAndMaker)
{
    Vst3Plugin plugin;
    v3_plugin_factory_cpp** factory = plugin.Factory();
    v3_factory_info factoryInfo{};
    ASSERT_EQ((*factory)->v1.get_factory_info(factory, &factoryInfo), V3_OK);
    EXPECT_STREQ(factoryInfo.vendor, "Marovane");
    v3_class_info info{};
    ASSERT_EQ((*factory)->v1.get_class_info(factory, 0, &info), V3_OK);
    const uint8_t published[16] = {0x20, 0x46, 0x50, 0x44, 0x73, 0x61, 0x6C, 0x63,
                                   0x6E, 0x76, 0x72, 0x4D, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(info.class_id, published, sizeof published), 0);
    EXPECT_STREQ(info.name, "Marovane");
    EXPECT_STREQ(info.category, "Audio Module Class");
}
