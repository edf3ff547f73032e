#pragma once
// A small LV2 host for the plugin's tests, on the host library most Linux
// hosts use (lilv): it finds the plugin where LV2_PATH points (the build
// tree), makes instances, plays MIDI events at exact frames in blocks of the
// test's choosing, and saves, restores and applies states and presets.
// One thread: the test's.
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/midi/midi.h>
#include <lv2/presets/presets.h>
#include <lv2/urid/urid.h>

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

#include "lv2/Ports.h"

namespace lv2host {

using namespace marovane_lv2;

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
    }
    ~World() { lilv_world_free(world_); }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    LilvWorld* Get() { return world_; }
    const LilvPlugin* Plugin() const { return plugin_; }
    UridMap& Urids() { return urids_; }
    // urid:map and urid:unmap, null-terminated.
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

private:
    LilvWorld* world_ = nullptr;
    const LilvPlugin* plugin_ = nullptr;
    UridMap urids_;
    LV2_Feature mapFeature_{}, unmapFeature_{};
    const LV2_Feature* features_[3] = {nullptr, nullptr, nullptr};
};

// One instance with its ports connected to buffers of this object.
class Instance {
public:
    static constexpr uint32_t kMaxBlock = 8192;
    static constexpr size_t kMidiBufferBytes = 1 << 20;

    Instance(World& world, double rate, const LV2_Feature* const* features = nullptr)
        : world_(world), midi_(kMidiBufferBytes / sizeof(uint64_t)), left_(kMaxBlock), right_(kMaxBlock)
    {
        instance_ = lilv_plugin_instantiate(world.Plugin(), rate, features ? features : world.Features());
        if (!instance_)
            return;
        for (uint32_t c = 0; c < kControlCount; ++c)
            control_[c] = kControls[c].defaultValue;
        lilv_instance_connect_port(instance_, kMidiIn, midi_.data());
        lilv_instance_connect_port(instance_, kOutLeft, left_.data());
        lilv_instance_connect_port(instance_, kOutRight, right_.data());
        for (uint32_t c = 0; c < kControlCount; ++c)
            lilv_instance_connect_port(instance_, kControls[c].index, &control_[c]);
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

    // A control port's value by symbol, as a host's slider would set it.
    void SetControl(const std::string& symbol, float value)
    {
        for (uint32_t c = 0; c < kControlCount; ++c)
            if (symbol == kControls[c].symbol)
                control_[c] = value;
    }

    // One run() of `frames` frames with these events, each (frame, bytes)
    // written as it comes, in order, at its frame within the block (the host
    // may send any time, even one out of order). Returns the block.
    Stereo RunBlock(uint32_t frames, const std::vector<std::pair<int64_t, std::vector<uint8_t>>>& events,
                    uint32_t eventType = 0)
    {
        const LV2_URID midiEvent = world_.Urids().Map(LV2_MIDI__MidiEvent);
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(midi_.data());
        seq->atom.type = world_.Urids().Map(LV2_ATOM__Sequence);
        seq->body.unit = 0;
        seq->body.pad = 0;
        uint32_t size = sizeof(LV2_Atom_Sequence_Body);
        for (const auto& [frame, bytes] : events) {
            auto* ev = reinterpret_cast<LV2_Atom_Event*>(reinterpret_cast<char*>(&seq->body) + size);
            ev->time.frames = frame;
            ev->body.size = static_cast<uint32_t>(bytes.size());
            ev->body.type = eventType ? eventType : midiEvent;
            std::memcpy(ev + 1, bytes.data(), bytes.size());
            size += static_cast<uint32_t>(lv2_atom_pad_size(sizeof(LV2_Atom_Event) + bytes.size()));
        }
        seq->atom.size = size;
        std::fill(left_.begin(), left_.end(), -7.0f); // what the plugin leaves unwritten shows
        std::fill(right_.begin(), right_.end(), -7.0f);
        if (aroundRun)
            aroundRun(true);
        lilv_instance_run(instance_, frames);
        if (aroundRun)
            aroundRun(false);
        return {{left_.begin(), left_.begin() + frames}, {right_.begin(), right_.begin() + frames}};
    }

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
        for (uint32_t c = 0; c < kControlCount; ++c)
            if (std::strcmp(symbol, kControls[c].symbol) == 0) {
                *size = sizeof(float);
                *type = self->world_.Urids().Map(LV2_ATOM__Float);
                return &self->control_[c];
            }
        return nullptr;
    }

    World& world_;
    LilvInstance* instance_ = nullptr;
    std::vector<uint64_t> midi_; // 8-byte aligned, as atoms want
    std::vector<float> left_, right_;
    float control_[kControlCount] = {};
    uint64_t position_ = 0;
    size_t next_ = 0;
};

} // namespace lv2host
