#pragma once
// A small CLAP host for the plugin's tests, over the CLAP headers the plugin
// framework ships: it loads build/clap/marovane.clap, makes instances with a
// host that offers no extension, plays events at exact frames in blocks of
// the test's choosing, and saves and loads states through memory streams.
// One thread: the test's (it is the host's main and audio thread alike).
#include <clap/entry.h>
#include <clap/events.h>
#include <clap/ext/params.h>
#include <clap/ext/state.h>
#include <clap/host.h>
#include <clap/plugin-factory.h>
#include <clap/plugin.h>
#include <clap/process.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace claphost {

inline constexpr const char* kPluginId = "org.marovane.synth";

struct Stereo {
    std::vector<float> left, right;
};

// One event of the kinds the tests send, at a frame counted from the
// instance's activation.
struct Event {
    uint64_t frame;
    union {
        clap_event_header_t header;
        clap_event_note_t note;
        clap_event_midi_t midi;
        clap_event_param_value_t param;
    };
};

inline Event Midi(uint64_t frame, uint8_t status, uint8_t data1, uint8_t data2 = 0)
{
    Event e{};
    e.frame = frame;
    e.midi = {};
    e.midi.header = {sizeof(clap_event_midi_t), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_MIDI, 0};
    e.midi.port_index = 0;
    e.midi.data[0] = status;
    e.midi.data[1] = data1;
    e.midi.data[2] = data2;
    return e;
}

inline Event Note(uint64_t frame, bool on, int16_t key, double velocity = 1.0)
{
    Event e{};
    e.frame = frame;
    e.note = {};
    e.note.header = {sizeof(clap_event_note_t), 0, CLAP_CORE_EVENT_SPACE_ID,
                     static_cast<uint16_t>(on ? CLAP_EVENT_NOTE_ON : CLAP_EVENT_NOTE_OFF), 0};
    e.note.note_id = -1;
    e.note.port_index = 0;
    e.note.channel = 0;
    e.note.key = key;
    e.note.velocity = velocity;
    return e;
}

inline Event Param(uint64_t frame, clap_id id, double value)
{
    Event e{};
    e.frame = frame;
    e.param = {};
    e.param.header = {sizeof(clap_event_param_value_t), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
    e.param.param_id = id;
    e.param.note_id = -1;
    e.param.port_index = -1;
    e.param.channel = -1;
    e.param.key = -1;
    e.param.value = value;
    return e;
}

// The plugin's file, opened and initialised once for the test program (a
// CLAP module's entry is initialised once per load).
class Module {
public:
    static Module& Get()
    {
        static Module module;
        return module;
    }
    const clap_plugin_factory_t* Factory() const { return factory_; }
    std::string Path() const { return path_; }

private:
    Module()
    {
        const char* file = std::getenv("MAROVANE_CLAP_FILE");
        path_ = file ? file : "";
        handle_ = path_.empty() ? nullptr : dlopen(path_.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle_)
            return;
        entry_ = static_cast<const clap_plugin_entry_t*>(dlsym(handle_, "clap_entry"));
        if (!entry_ || !entry_->init(path_.c_str())) {
            entry_ = nullptr;
            return;
        }
        factory_ = static_cast<const clap_plugin_factory_t*>(entry_->get_factory(CLAP_PLUGIN_FACTORY_ID));
    }
    ~Module()
    {
        if (entry_)
            entry_->deinit();
        if (handle_)
            dlclose(handle_);
    }
    std::string path_;
    void* handle_ = nullptr;
    const clap_plugin_entry_t* entry_ = nullptr;
    const clap_plugin_factory_t* factory_ = nullptr;
};

// A byte stream in memory that the plugin writes into or reads from, at most
// `chunk` bytes a call (a host may hand a stream over in pieces).
struct MemoryStream {
    std::vector<uint8_t> bytes;
    size_t position = 0;
    size_t chunk = SIZE_MAX;
    clap_ostream_t out{this, [](const clap_ostream_t* s, const void* buffer, uint64_t size) -> int64_t {
                           MemoryStream* m = static_cast<MemoryStream*>(s->ctx);
                           const size_t n = std::min<uint64_t>(size, m->chunk);
                           const uint8_t* b = static_cast<const uint8_t*>(buffer);
                           m->bytes.insert(m->bytes.end(), b, b + n);
                           return static_cast<int64_t>(n);
                       }};
    clap_istream_t in{this, [](const clap_istream_t* s, void* buffer, uint64_t size) -> int64_t {
                          MemoryStream* m = static_cast<MemoryStream*>(s->ctx);
                          const size_t n = std::min<uint64_t>({size, m->chunk, m->bytes.size() - m->position});
                          std::memcpy(buffer, m->bytes.data() + m->position, n);
                          m->position += n;
                          return static_cast<int64_t>(n);
                      }};
};

// One instance of the plugin, made by a host that offers no extension
// (get_extension answers null to every one the plugin asks for).
class Instance {
public:
    explicit Instance(double rate = 44100, uint32_t maxFrames = 8192) : maxFrames_(maxFrames)
    {
        host_.clap_version = CLAP_VERSION;
        host_.host_data = this;
        host_.name = "marovane tests";
        host_.vendor = "Marovane";
        host_.url = "";
        host_.version = "1";
        host_.get_extension = [](const clap_host_t*, const char*) -> const void* { return nullptr; };
        host_.request_restart = [](const clap_host_t*) {};
        host_.request_process = [](const clap_host_t*) {};
        host_.request_callback = [](const clap_host_t*) {};
        const clap_plugin_factory_t* factory = Module::Get().Factory();
        if (!factory)
            return;
        plugin_ = factory->create_plugin(factory, &host_, kPluginId);
        if (!plugin_ || !plugin_->init(plugin_)) {
            if (plugin_)
                plugin_->destroy(plugin_);
            plugin_ = nullptr;
            return;
        }
        params_ = static_cast<const clap_plugin_params_t*>(plugin_->get_extension(plugin_, CLAP_EXT_PARAMS));
        state_ = static_cast<const clap_plugin_state_t*>(plugin_->get_extension(plugin_, CLAP_EXT_STATE));
        active_ = plugin_->activate(plugin_, rate, 1, maxFrames) && plugin_->start_processing(plugin_);
    }
    ~Instance()
    {
        if (!plugin_)
            return;
        if (active_) {
            plugin_->stop_processing(plugin_);
            plugin_->deactivate(plugin_);
        }
        plugin_->destroy(plugin_);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    bool Ok() const { return plugin_ && params_ && state_ && active_; }
    const clap_plugin_t* Plugin() const { return plugin_; }
    const clap_plugin_params_t* Params() const { return params_; }

    // Renders `frames` frames in blocks of `block` (the last one shorter),
    // each event in the block that holds its frame, at its offset there. The
    // events are in the order of their frames.
    Stereo Play(const std::vector<Event>& events, size_t frames, uint32_t block)
    {
        Stereo s;
        s.left.assign(frames, 0.0f);
        s.right.assign(frames, 0.0f);
        size_t next = 0;
        for (size_t start = 0; start < frames; start += block) {
            const uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, frames - start));
            inBlock_.clear();
            while (next < events.size() && events[next].frame < start + n) {
                inBlock_.push_back(events[next]);
                inBlock_.back().header.time = static_cast<uint32_t>(events[next].frame - start);
                ++next;
            }
            Process(s.left.data() + start, s.right.data() + start, n, start);
        }
        return s;
    }

    // The state as the plugin saves it, written in pieces of `chunk` bytes;
    // empty if it refused.
    std::vector<uint8_t> SaveState(size_t chunk = SIZE_MAX)
    {
        MemoryStream m;
        m.chunk = chunk;
        return state_->save(plugin_, &m.out) ? m.bytes : std::vector<uint8_t>();
    }
    bool LoadState(const std::vector<uint8_t>& bytes, size_t chunk = SIZE_MAX)
    {
        MemoryStream m;
        m.bytes = bytes;
        m.chunk = chunk;
        return state_->load(plugin_, &m.in);
    }

private:
    void Process(float* left, float* right, uint32_t frames, uint64_t steadyTime)
    {
        float* channels[2] = {left, right};
        clap_audio_buffer_t output{};
        output.data32 = channels;
        output.channel_count = 2;
        clap_input_events_t in{this,
                               [](const clap_input_events_t* list) -> uint32_t {
                                   return static_cast<uint32_t>(static_cast<Instance*>(list->ctx)->inBlock_.size());
                               },
                               [](const clap_input_events_t* list, uint32_t i) -> const clap_event_header_t* {
                                   return &static_cast<Instance*>(list->ctx)->inBlock_[i].header;
                               }};
        clap_output_events_t out{this, [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};
        clap_process_t p{};
        p.steady_time = static_cast<int64_t>(steadyTime);
        p.frames_count = frames;
        p.transport = nullptr;
        p.audio_inputs = nullptr;
        p.audio_outputs = &output;
        p.audio_inputs_count = 0;
        p.audio_outputs_count = 1;
        p.in_events = &in;
        p.out_events = &out;
        processStatus_ = plugin_->process(plugin_, &p);
    }

    uint32_t maxFrames_;
    clap_host_t host_{};
    const clap_plugin_t* plugin_ = nullptr;
    const clap_plugin_params_t* params_ = nullptr;
    const clap_plugin_state_t* state_ = nullptr;
    bool active_ = false;
    std::vector<Event> inBlock_;

public:
    clap_process_status processStatus_ = CLAP_PROCESS_CONTINUE;
};

} // namespace claphost
