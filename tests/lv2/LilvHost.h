#pragma once
// A small LV2 host for the plugin's tests, on the host library most Linux
// hosts use (lilv): it finds the plugin where LV2_PATH points (the build
// tree), makes instances with the features the plugin asks for (urid:map
// and unmap, options with the block lengths and the sample rate, a worker),
// connects every port by its symbol, plays MIDI events at exact frames in
// blocks of the test's choosing, sends the editor's messages on the events
// input, and saves, restores and applies states and presets. The worker runs
// as a host's worker thread would, but between two run() calls: what run()
// schedules is worked on after it returns, and the responses are delivered
// before the next one. One thread: the test's.
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/patch/patch.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "PluginParameters.h"
#include "support/PatchSetAtom.h"

namespace lv2host {

inline constexpr const char* kPluginUri = "urn:marovane:synth";
// The plugin's state keys: each spectrum as an atom:String.
inline const std::string kAttackStateKey = std::string(kPluginUri) + "#" + marovane_plugin::kAttackStateKey;
inline const std::string kSustainStateKey = std::string(kPluginUri) + "#" + marovane_plugin::kSustainStateKey;

// The ports the host connects by symbol besides the controls.
inline constexpr const char* kOutLeftSymbol = "lv2_audio_out_1";
inline constexpr const char* kOutRightSymbol = "lv2_audio_out_2";
inline constexpr const char* kEventsInSymbol = "lv2_events_in";
inline constexpr const char* kEventsOutSymbol = "lv2_events_out";

// The plugin's control symbols in its parameter order (PluginParameters.h).
inline std::vector<std::string> ControlSymbols()
{
    std::vector<std::string> out;
    for (const marovane_plugin::PluginParam& p : marovane_plugin::kPluginParams)
        out.push_back(p.kind == marovane_plugin::PluginParamKind::ModWheel ? marovane_plugin::kModWheelSymbol
                                                                           : Parameter(p.sound).symbol);
    return out;
}

// A MIDI message at a frame counted from the instance's activation.
struct Midi {
    uint64_t frame;
    std::vector<uint8_t> bytes;
};

struct Stereo {
    std::vector<float> left, right;
};

// A path in the temporary folder that is this test process's own: other
// checkouts' tests may run at the same time on the machine.
inline std::string Temp(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("lv2-test-" + std::to_string(getpid()) + "-" + name)).string();
}

// Called with true just before each run() of the plugin and with false just
// after it, for a test that watches what happens inside run() alone.
inline void (*aroundRun)(bool entering) = nullptr;

// URIs to numbers and back, as a host hands them to plugins.
class UridMap {
public:
    UridMap()
    {
        map_.handle = this;
        map_.map = [](LV2_URID_Map_Handle h, const char* uri) { return static_cast<UridMap*>(h)->Map(uri); };
        unmap_.handle = this;
        unmap_.unmap = [](LV2_URID_Unmap_Handle h, LV2_URID urid) {
            auto* self = static_cast<UridMap*>(h);
            return urid >= 1 && urid <= self->uris_.size() ? self->uris_[urid - 1].c_str() : nullptr;
        };
    }
    UridMap(const UridMap&) = delete;
    UridMap& operator=(const UridMap&) = delete;
    LV2_URID Map(const char* uri)
    {
        auto [it, added] = ids_.emplace(uri, static_cast<LV2_URID>(uris_.size() + 1));
        if (added)
            uris_.push_back(uri);
        return it->second;
    }
    LV2_URID Map(const std::string& uri) { return Map(uri.c_str()); }
    LV2_URID_Map* MapFeature() { return &map_; }
    LV2_URID_Unmap* UnmapFeature() { return &unmap_; }

private:
    LV2_URID_Map map_{};
    LV2_URID_Unmap unmap_{};
    std::map<std::string, LV2_URID> ids_;
    std::vector<std::string> uris_;
};

// The host's world: every bundle on LV2_PATH, and the plugin.
class World {
public:
    World()
    {
        world_ = lilv_world_new();
        lilv_world_load_all(world_);
        LilvNode* uri = lilv_new_uri(world_, kPluginUri);
        plugin_ = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(world_), uri);
        lilv_node_free(uri);
        mapFeature_ = {LV2_URID__map, urids_.MapFeature()};
        unmapFeature_ = {LV2_URID__unmap, urids_.UnmapFeature()};
        features_[0] = &mapFeature_;
        features_[1] = &unmapFeature_;
        // The plugin's own URIs are mapped before any instance is made: the
        // map then allocates no more when run() asks for one.
        for (const char* u : {LV2_MIDI__MidiEvent, LV2_ATOM__Sequence, LV2_ATOM__Object, LV2_ATOM__String,
                              LV2_ATOM__URID, LV2_ATOM__Float, LV2_ATOM__Int, LV2_PATCH__Set, LV2_PATCH__property,
                              LV2_PATCH__value, LV2_BUF_SIZE__nominalBlockLength, LV2_BUF_SIZE__maxBlockLength,
                              LV2_PARAMETERS__sampleRate})
            urids_.Map(u);
    }
    ~World() { lilv_world_free(world_); }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    LilvWorld* Get() { return world_; }
    const LilvPlugin* Plugin() const { return plugin_; }
    UridMap& Urids() { return urids_; }
    // urid:map and urid:unmap, null-terminated: what restoring a state needs.
    const LV2_Feature* const* Features() { return features_; }

    // The URIs of the plugin's presets with their labels.
    std::map<std::string, std::string> Presets()
    {
        std::map<std::string, std::string> out;
        LilvNode* presetClass = lilv_new_uri(world_, LV2_PRESETS__Preset);
        LilvNode* label = lilv_new_uri(world_, "http://www.w3.org/2000/01/rdf-schema#label");
        LilvNodes* presets = lilv_plugin_get_related(plugin_, presetClass);
        LILV_FOREACH (nodes, i, presets) {
            const LilvNode* preset = lilv_nodes_get(presets, i);
            lilv_world_load_resource(world_, preset);
            LilvNode* name = lilv_world_get(world_, preset, label, nullptr);
            out[lilv_node_as_uri(preset)] = name ? lilv_node_as_string(name) : "";
            lilv_node_free(name);
        }
        lilv_nodes_free(presets);
        lilv_node_free(label);
        lilv_node_free(presetClass);
        return out;
    }

    // Every preset's label, as many times as it is listed.
    std::vector<std::string> PresetLabels()
    {
        std::vector<std::string> out;
        for (const auto& [uri, label] : Presets())
            out.push_back(label);
        return out;
    }

private:
    LilvWorld* world_ = nullptr;
    const LilvPlugin* plugin_ = nullptr;
    UridMap urids_;
    LV2_Feature mapFeature_{}, unmapFeature_{};
    const LV2_Feature* features_[3] = {nullptr, nullptr, nullptr};
};

// What an instance is given; a careless host leaves some out.
enum HostFeature : unsigned {
    kFeatureMap = 1,
    kFeatureUnmap = 2,
    kFeatureOptions = 4,
    kFeatureWorker = 8,
    kAllFeatures = 15,
};

// An event on the events input: its frame in the block, its type and body.
struct AtomEvent {
    int64_t frame;
    LV2_URID type;
    std::vector<uint8_t> body;
};

// One instance with its ports connected to buffers of this object.
class Instance {
public:
    static constexpr uint32_t kMaxBlock = 8192;
    static constexpr uint32_t kNominalBlock = 256;
    static constexpr size_t kEventBufferBytes = 1 << 20;
    static constexpr size_t kWorkBytes = 1 << 20;
    static constexpr size_t kMaxJobs = 256;

    Instance(World& world, double rate, unsigned features = kAllFeatures)
        : world_(world), eventsIn_(kEventBufferBytes / sizeof(uint64_t)), eventsOut_(kEventBufferBytes / sizeof(uint64_t)),
          left_(kMaxBlock), right_(kMaxBlock), work_(kWorkBytes), responses_(kWorkBytes)
    {
        UridMap& u = world.Urids();
        sampleRate_ = static_cast<float>(rate);
        options_[0] = {LV2_OPTIONS_INSTANCE, 0, u.Map(LV2_BUF_SIZE__nominalBlockLength), sizeof(int32_t),
                       u.Map(LV2_ATOM__Int), &nominalBlock_};
        options_[1] = {LV2_OPTIONS_INSTANCE, 0, u.Map(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t),
                       u.Map(LV2_ATOM__Int), &maxBlock_};
        options_[2] = {LV2_OPTIONS_INSTANCE, 0, u.Map(LV2_PARAMETERS__sampleRate), sizeof(float),
                       u.Map(LV2_ATOM__Float), &sampleRate_};
        options_[3] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
        schedule_ = {this, &Instance::ScheduleWork};
        mapFeature_ = {LV2_URID__map, u.MapFeature()};
        unmapFeature_ = {LV2_URID__unmap, u.UnmapFeature()};
        optionsFeature_ = {LV2_OPTIONS__options, options_};
        workerFeature_ = {LV2_WORKER__schedule, &schedule_};
        size_t n = 0;
        if (features & kFeatureMap)
            features_[n++] = &mapFeature_;
        if (features & kFeatureUnmap)
            features_[n++] = &unmapFeature_;
        if (features & kFeatureOptions)
            features_[n++] = &optionsFeature_;
        if (features & kFeatureWorker)
            features_[n++] = &workerFeature_;
        features_[n] = nullptr;

        instance_ = lilv_plugin_instantiate(world.Plugin(), rate, features_);
        if (!instance_)
            return;
        worker_ = static_cast<const LV2_Worker_Interface*>(
            lilv_instance_get_extension_data(instance_, LV2_WORKER__interface));
        const LilvPlugin* p = world.Plugin();
        const uint32_t ports = lilv_plugin_get_num_ports(p);
        controls_.assign(ports, 0.0f);
        std::vector<float> defaults(ports, NAN);
        lilv_plugin_get_port_ranges_float(p, nullptr, nullptr, defaults.data());
        LilvNode* control = lilv_new_uri(world.Get(), LV2_CORE__ControlPort);
        for (uint32_t i = 0; i < ports; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(p, i);
            const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(p, port));
            void* data = nullptr;
            if (symbol == kOutLeftSymbol)
                data = left_.data();
            else if (symbol == kOutRightSymbol)
                data = right_.data();
            else if (symbol == kEventsInSymbol)
                data = eventsIn_.data();
            else if (symbol == kEventsOutSymbol)
                data = eventsOut_.data();
            else if (lilv_port_is_a(p, port, control)) {
                controls_[i] = defaults[i];
                controlIndex_[symbol] = i;
                data = &controls_[i];
            }
            if (data)
                lilv_instance_connect_port(instance_, i, data);
            else
                unconnected_.push_back(symbol);
        }
        lilv_node_free(control);
        // Empty sequences until the first run.
        ResetEvents();
        lilv_instance_activate(instance_);
    }
    ~Instance()
    {
        if (instance_) {
            lilv_instance_deactivate(instance_);
            lilv_instance_free(instance_);
        }
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    bool Ok() const { return instance_ != nullptr; }
    LilvInstance* Get() { return instance_; }
    // The ports this host did not know what to connect to (none, for a
    // plugin it can play).
    const std::vector<std::string>& Unconnected() const { return unconnected_; }
    bool HasWorker() const { return worker_ != nullptr; }

    // A control port's value by symbol, as a host's slider would set it;
    // false if the plugin has no control of that symbol.
    bool SetControl(const std::string& symbol, float value)
    {
        const auto it = controlIndex_.find(symbol);
        if (it == controlIndex_.end())
            return false;
        controls_[it->second] = value;
        return true;
    }
    float Control(const std::string& symbol) const { return controls_.at(controlIndex_.at(symbol)); }

    // The editor's message that sets one of the plugin's state values, as
    // the plugin's own editor sends it on the events input: a patch:Set of
    // the key's URID to an atom:String. It goes at frame 0 of the next
    // block.
    void SendState(const std::string& key, const std::string& value)
    {
        const std::vector<uint8_t> buffer = marovane_test::PatchSetAtom(world_.Urids().MapFeature(), key, value);
        const auto* atom = reinterpret_cast<const LV2_Atom*>(buffer.data());
        const auto* body = reinterpret_cast<const uint8_t*>(atom + 1);
        pending_.push_back({0, atom->type, {body, body + atom->size}});
    }

    // The same as the framework's key-value message, which its editor sends
    // for a state that hosts cannot read: "key\0value\0".
    void SendKeyValue(const std::string& key, const std::string& value)
    {
        std::vector<uint8_t> body(key.begin(), key.end());
        body.push_back(0);
        body.insert(body.end(), value.begin(), value.end());
        body.push_back(0);
        pending_.push_back({0, world_.Urids().Map(std::string(kPluginUri) + "#KeyValueState"), body});
    }

    // One run() of `frames` frames with these events on the events input,
    // each written as it comes, in order, at its frame within the block (the
    // host may send any time, even one out of order). The messages sent with
    // SendState come first. Then the worker does what run() scheduled and
    // its responses are delivered. Returns the block.
    Stereo RunEvents(uint32_t frames, const std::vector<AtomEvent>& events)
    {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(eventsIn_.data());
        seq->atom.type = world_.Urids().Map(LV2_ATOM__Sequence);
        seq->body.unit = 0;
        seq->body.pad = 0;
        uint32_t size = sizeof(LV2_Atom_Sequence_Body);
        auto write = [&](const AtomEvent& e) {
            auto* ev = reinterpret_cast<LV2_Atom_Event*>(reinterpret_cast<char*>(&seq->body) + size);
            ev->time.frames = e.frame;
            ev->body.size = static_cast<uint32_t>(e.body.size());
            ev->body.type = e.type;
            if (!e.body.empty())
                std::memcpy(ev + 1, e.body.data(), e.body.size());
            size += static_cast<uint32_t>(lv2_atom_pad_size(sizeof(LV2_Atom_Event) + e.body.size()));
        };
        for (const AtomEvent& e : pending_)
            write(e);
        pending_.clear();
        for (const AtomEvent& e : events)
            write(e);
        seq->atom.size = size;
        auto* out = reinterpret_cast<LV2_Atom_Sequence*>(eventsOut_.data());
        out->atom.type = 0;
        out->atom.size = static_cast<uint32_t>(kEventBufferBytes - sizeof(LV2_Atom));
        std::fill(left_.begin(), left_.end(), -7.0f); // what the plugin leaves unwritten shows
        std::fill(right_.begin(), right_.end(), -7.0f);
        if (aroundRun)
            aroundRun(true);
        lilv_instance_run(instance_, frames);
        if (aroundRun)
            aroundRun(false);
        RunWorker();
        return {{left_.begin(), left_.begin() + frames}, {right_.begin(), right_.begin() + frames}};
    }

    // One run() with MIDI events (frame, bytes), or events of `eventType`
    // when given.
    Stereo RunBlock(uint32_t frames, const std::vector<std::pair<int64_t, std::vector<uint8_t>>>& events,
                    uint32_t eventType = 0)
    {
        const LV2_URID type = eventType ? eventType : world_.Urids().Map(LV2_MIDI__MidiEvent);
        std::vector<AtomEvent> atoms;
        atoms.reserve(events.size());
        for (const auto& [frame, bytes] : events)
            atoms.push_back({frame, type, bytes});
        return RunEvents(frames, atoms);
    }

    // The jobs the plugin has given the worker in all, and the ones it
    // refused.
    size_t WorkDone() const { return workDone_; }
    size_t WorkFailed() const { return workFailed_; }

    // Plays `frames` frames from the current position in blocks of `block`
    // frames, each message of `midi` at its frame; `midi` is in frame order
    // and counts from the instance's activation.
    Stereo Play(const std::vector<Midi>& midi, uint64_t frames, uint32_t block)
    {
        Stereo out;
        for (uint64_t end = position_ + frames; position_ < end;) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(block, end - position_));
            std::vector<std::pair<int64_t, std::vector<uint8_t>>> events;
            for (; next_ < midi.size() && midi[next_].frame < position_ + n; ++next_)
                events.push_back({static_cast<int64_t>(midi[next_].frame - position_), midi[next_].bytes});
            const Stereo b = RunBlock(n, events);
            out.left.insert(out.left.end(), b.left.begin(), b.left.end());
            out.right.insert(out.right.end(), b.right.begin(), b.right.end());
            position_ += n;
        }
        return out;
    }

    // Applies a preset or a saved state: its port values and its state.
    void Restore(const LilvState* state)
    {
        lilv_state_restore(state, instance_, &Instance::SetPortValue, this, 0, world_.Features());
    }

    // Applies a preset by its URI; false if the world holds no such preset.
    bool ApplyPreset(const std::string& uri)
    {
        LilvNode* node = lilv_new_uri(world_.Get(), uri.c_str());
        lilv_world_load_resource(world_.Get(), node);
        LilvState* state = lilv_state_new_from_world(world_.Get(), world_.Urids().MapFeature(), node);
        lilv_node_free(node);
        if (!state)
            return false;
        Restore(state);
        lilv_state_free(state);
        return true;
    }

    // The instance's state (ports and what the plugin saves), as a host saves
    // a session.
    LilvState* Save()
    {
        return lilv_state_new_from_instance(world_.Plugin(), instance_, world_.Urids().MapFeature(), nullptr,
                                            nullptr, nullptr, nullptr, &Instance::GetPortValue, this, 0,
                                            world_.Features());
    }

private:
    // A job or a response kept in a buffer made beforehand: the plugin
    // schedules from run(), where nothing may allocate.
    struct Queue {
        explicit Queue(size_t bytes) : data(bytes) {}
        std::vector<uint8_t> data;
        size_t used = 0;
        std::pair<size_t, uint32_t> items[kMaxJobs] = {};
        size_t count = 0;
        bool Push(uint32_t size, const void* bytes)
        {
            if (count == kMaxJobs || used + size > data.size())
                return false;
            std::memcpy(data.data() + used, bytes, size);
            items[count++] = {used, size};
            used += (size + 7) & ~7u;
            return true;
        }
        void Clear() { used = count = 0; }
    };

    static LV2_Worker_Status ScheduleWork(LV2_Worker_Schedule_Handle h, uint32_t size, const void* data)
    {
        return static_cast<Instance*>(h)->work_.Push(size, data) ? LV2_WORKER_SUCCESS : LV2_WORKER_ERR_NO_SPACE;
    }
    static LV2_Worker_Status Respond(LV2_Worker_Respond_Handle h, uint32_t size, const void* data)
    {
        return static_cast<Instance*>(h)->responses_.Push(size, data) ? LV2_WORKER_SUCCESS : LV2_WORKER_ERR_NO_SPACE;
    }

    void RunWorker()
    {
        if (!worker_)
            return;
        LV2_Handle handle = lilv_instance_get_handle(instance_);
        for (size_t i = 0; i < work_.count; ++i) {
            const auto [at, size] = work_.items[i];
            ++workDone_;
            if (worker_->work(handle, &Instance::Respond, this, size, work_.data.data() + at) != LV2_WORKER_SUCCESS)
                ++workFailed_;
        }
        work_.Clear();
        for (size_t i = 0; i < responses_.count; ++i) {
            const auto [at, size] = responses_.items[i];
            worker_->work_response(handle, size, responses_.data.data() + at);
        }
        responses_.Clear();
        if (worker_->end_run)
            worker_->end_run(handle);
    }

    void ResetEvents()
    {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(eventsIn_.data());
        seq->atom.type = world_.Urids().Map(LV2_ATOM__Sequence);
        seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
        seq->body.unit = 0;
        seq->body.pad = 0;
    }

    static void SetPortValue(const char* symbol, void* data, const void* value, uint32_t size, uint32_t type)
    {
        auto* self = static_cast<Instance*>(data);
        UridMap& u = self->world_.Urids();
        float v = NAN;
        if (type == u.Map(LV2_ATOM__Float) && size == sizeof(float))
            v = *static_cast<const float*>(value);
        else if (type == u.Map(LV2_ATOM__Double) && size == sizeof(double))
            v = static_cast<float>(*static_cast<const double*>(value));
        else if (type == u.Map(LV2_ATOM__Int) && size == sizeof(int32_t))
            v = static_cast<float>(*static_cast<const int32_t*>(value));
        else if (type == u.Map(LV2_ATOM__Long) && size == sizeof(int64_t))
            v = static_cast<float>(*static_cast<const int64_t*>(value));
        if (!std::isnan(v))
            self->SetControl(symbol, v);
    }
    static const void* GetPortValue(const char* symbol, void* data, uint32_t* size, uint32_t* type)
    {
        auto* self = static_cast<Instance*>(data);
        const auto it = self->controlIndex_.find(symbol);
        if (it == self->controlIndex_.end())
            return nullptr;
        *size = sizeof(float);
        *type = self->world_.Urids().Map(LV2_ATOM__Float);
        return &self->controls_[it->second];
    }

    World& world_;
    LilvInstance* instance_ = nullptr;
    const LV2_Worker_Interface* worker_ = nullptr;
    int32_t nominalBlock_ = kNominalBlock;
    int32_t maxBlock_ = kMaxBlock;
    float sampleRate_ = 0.0f;
    LV2_Options_Option options_[4] = {};
    LV2_Worker_Schedule schedule_{};
    LV2_Feature mapFeature_{}, unmapFeature_{}, optionsFeature_{}, workerFeature_{};
    const LV2_Feature* features_[5] = {};
    std::vector<uint64_t> eventsIn_, eventsOut_; // 8-byte aligned, as atoms want
    std::vector<float> left_, right_;
    std::vector<float> controls_; // by port index
    std::map<std::string, uint32_t> controlIndex_;
    std::vector<std::string> unconnected_;
    std::vector<AtomEvent> pending_;
    Queue work_, responses_;
    size_t workDone_ = 0, workFailed_ = 0;
    uint64_t position_ = 0;
    size_t next_ = 0;
};

} // namespace lv2host
