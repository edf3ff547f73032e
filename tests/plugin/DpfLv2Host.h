#pragma once
// A small LV2 host for the plugin's module, loaded straight through its
// lv2_descriptor (no lilv): the URID map, the options and the worker the
// plugin requires, its ports connected to buffers of this host's own. The
// tests and the plugin benchmark drive run() through it exactly as a host's
// audio thread would; the worker's jobs run on the caller's thread between
// runs (RunWorker), as a host's worker thread would run them.
//
// One thread at a time.

#include <dlfcn.h>
#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace marovane_test {

// The ports of the plugin's LV2 module, in the order of its Turtle.
enum DpfLv2Port : uint32_t { kDpfOutLeft, kDpfOutRight, kDpfEventsIn, kDpfEventsOut, kDpfFirstControl };

class UridMap {
public:
    LV2_URID Id(const char* uri)
    {
        auto [it, added] = ids_.emplace(uri, static_cast<LV2_URID>(ids_.size() + 1));
        if (added)
            names_.push_back(uri);
        return it->second;
    }
    const char* Name(LV2_URID id) const { return id >= 1 && id <= names_.size() ? names_[id - 1].c_str() : nullptr; }
    LV2_URID_Map map{this, [](LV2_URID_Map_Handle h, const char* uri) { return static_cast<UridMap*>(h)->Id(uri); }};
    LV2_URID_Unmap unmap{this,
                         [](LV2_URID_Unmap_Handle h, LV2_URID id) { return static_cast<UridMap*>(h)->Name(id); }};

private:
    std::map<std::string, LV2_URID> ids_;
    std::vector<std::string> names_;
};

// A module loaded with dlopen, closed with the object.
class Lv2Module {
public:
    explicit Lv2Module(const std::string& path) : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL))
    {
        if (!handle_)
            throw std::runtime_error(dlerror());
        auto fn = reinterpret_cast<LV2_Descriptor_Function>(dlsym(handle_, "lv2_descriptor"));
        descriptor_ = fn ? fn(0) : nullptr;
        if (!descriptor_)
            throw std::runtime_error("no lv2_descriptor in " + path);
    }
    ~Lv2Module() { dlclose(handle_); }
    Lv2Module(const Lv2Module&) = delete;
    Lv2Module& operator=(const Lv2Module&) = delete;
    const LV2_Descriptor* Descriptor() const { return descriptor_; }

private:
    void* handle_;
    const LV2_Descriptor* descriptor_ = nullptr;
};

// One instance of the framework-built plugin with its buffers. The events
// input is a buffer of the host's own unless ConnectEventsIn gives another.
class DpfLv2Instance {
public:
    static constexpr uint32_t kEventsCapacity = 1 << 16;

    DpfLv2Instance(const LV2_Descriptor* d, UridMap& urids, double rate, uint32_t maxFrames, uint32_t controls)
        : d_(d), urids_(urids), left_(maxFrames), right_(maxFrames), controls_(controls),
          eventsIn_(kEventsCapacity / 8), eventsOut_(kEventsCapacity / 8)
    {
        rateValue_ = static_cast<float>(rate);
        blockValue_ = static_cast<int32_t>(maxFrames);
        options_[0] = {LV2_OPTIONS_INSTANCE, 0, urids.Id(LV2_BUF_SIZE__maxBlockLength), sizeof(int32_t),
                       urids.Id(LV2_ATOM__Int), &blockValue_};
        options_[1] = {LV2_OPTIONS_INSTANCE, 0, urids.Id(LV2_BUF_SIZE__nominalBlockLength), sizeof(int32_t),
                       urids.Id(LV2_ATOM__Int), &blockValue_};
        options_[2] = {LV2_OPTIONS_INSTANCE, 0, urids.Id(LV2_PARAMETERS__sampleRate), sizeof(float),
                       urids.Id(LV2_ATOM__Float), &rateValue_};
        options_[3] = {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr};
        handle_ = d_->instantiate(d_, rate, "", features_);
        if (!handle_)
            throw std::runtime_error("the plugin refused to start");
        d_->connect_port(handle_, kDpfOutLeft, left_.data());
        d_->connect_port(handle_, kDpfOutRight, right_.data());
        d_->connect_port(handle_, kDpfEventsOut, eventsOut_.data());
        for (uint32_t i = 0; i < controls; ++i)
            d_->connect_port(handle_, kDpfFirstControl + i, &controls_[i]);
        ConnectOwnEventsIn();
        ClearEvents();
        jobBytes_.reserve(kJobCapacity);
        jobSizes_.reserve(kJobCapacity / 64);
        state_ = static_cast<const LV2_State_Interface*>(d_->extension_data(LV2_STATE__interface));
        worker_ = static_cast<const LV2_Worker_Interface*>(d_->extension_data(LV2_WORKER__interface));
    }
    ~DpfLv2Instance()
    {
        if (active_)
            d_->deactivate(handle_);
        d_->cleanup(handle_);
    }
    DpfLv2Instance(const DpfLv2Instance&) = delete;
    DpfLv2Instance& operator=(const DpfLv2Instance&) = delete;

    LV2_Handle Handle() const { return handle_; }
    void Activate()
    {
        d_->activate(handle_);
        active_ = true;
    }
    float& Control(uint32_t i) { return controls_[i]; }
    const float* Left() const { return left_.data(); }
    const float* Right() const { return right_.data(); }

    void ConnectEventsIn(LV2_Atom_Sequence* seq)
    {
        d_->connect_port(handle_, kDpfEventsIn, seq);
    }
    void ConnectOwnEventsIn() { ConnectEventsIn(reinterpret_cast<LV2_Atom_Sequence*>(eventsIn_.data())); }
    // The host's own events input, emptied.
    void ClearEvents()
    {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(eventsIn_.data());
        seq->atom.type = urids_.Id(LV2_ATOM__Sequence);
        seq->atom.size = sizeof(LV2_Atom_Sequence_Body);
        seq->body = {0, 0};
    }
    // One event appended to the host's own events input.
    void AddEvent(uint32_t frame, LV2_URID type, const void* body, uint32_t size)
    {
        auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(eventsIn_.data());
        uint8_t* at = reinterpret_cast<uint8_t*>(eventsIn_.data()) + sizeof(LV2_Atom) + seq->atom.size;
        const LV2_Atom_Event ev{{static_cast<int64_t>(frame)}, {size, type}};
        std::memcpy(at, &ev, sizeof ev);
        std::memcpy(at + sizeof ev, body, size);
        seq->atom.size += static_cast<uint32_t>(lv2_atom_pad_size(sizeof ev + size));
    }
    void AddMidi(uint32_t frame, uint8_t status, uint8_t a, uint8_t b)
    {
        const uint8_t m[3] = {status, a, b};
        AddEvent(frame, urids_.Id(LV2_MIDI__MidiEvent), m, 3);
    }

    void Run(uint32_t frames)
    {
        auto* out = reinterpret_cast<LV2_Atom_Sequence*>(eventsOut_.data());
        out->atom.type = 0;
        out->atom.size = kEventsCapacity - sizeof(LV2_Atom);
        d_->run(handle_, frames);
    }
    // The worker's jobs scheduled so far, run now; what each returned.
    std::vector<LV2_Worker_Status> RunWorker()
    {
        std::vector<LV2_Worker_Status> results;
        size_t at = 0;
        for (uint32_t size : jobSizes_) {
            results.push_back(worker_->work(handle_, &Respond, this, size, jobBytes_.data() + at));
            at += size;
        }
        jobBytes_.clear();
        jobSizes_.clear();
        return results;
    }
    // The events output of the last run, as bytes.
    std::string EventsOutBytes() const
    {
        const auto* out = reinterpret_cast<const LV2_Atom_Sequence*>(eventsOut_.data());
        return std::string(reinterpret_cast<const char*>(out + 1), out->atom.size - sizeof(LV2_Atom_Sequence_Body));
    }
    size_t PendingJobs() const { return jobSizes_.size(); }

    const LV2_State_Interface* State() const { return state_; }
    const LV2_Worker_Interface* Worker() const { return worker_; }

private:
    // As a host's: no allocation (the jobs wait in room set aside), refused
    // when the room is full.
    static LV2_Worker_Status Schedule(LV2_Worker_Schedule_Handle h, uint32_t size, const void* data)
    {
        auto* self = static_cast<DpfLv2Instance*>(h);
        if (self->jobBytes_.size() + size > kJobCapacity || self->jobSizes_.size() == self->jobSizes_.capacity())
            return LV2_WORKER_ERR_NO_SPACE;
        const auto* bytes = static_cast<const uint8_t*>(data);
        self->jobBytes_.insert(self->jobBytes_.end(), bytes, bytes + size);
        self->jobSizes_.push_back(size);
        return LV2_WORKER_SUCCESS;
    }
    static constexpr size_t kJobCapacity = 1 << 20;
    static LV2_Worker_Status Respond(LV2_Worker_Respond_Handle, uint32_t, const void*) { return LV2_WORKER_SUCCESS; }

    const LV2_Descriptor* d_;
    UridMap& urids_;
    float rateValue_ = 0;
    int32_t blockValue_ = 0;
    LV2_Options_Option options_[4];
    LV2_Worker_Schedule schedule_{this, &Schedule};
    LV2_Feature mapFeature_{LV2_URID__map, &urids_.map};
    LV2_Feature unmapFeature_{LV2_URID__unmap, &urids_.unmap};
    LV2_Feature optionsFeature_{LV2_OPTIONS__options, options_};
    LV2_Feature workerFeature_{LV2_WORKER__schedule, &schedule_};
    const LV2_Feature* features_[5] = {&mapFeature_, &unmapFeature_, &optionsFeature_, &workerFeature_, nullptr};
    LV2_Handle handle_ = nullptr;
    bool active_ = false;
    std::vector<float> left_, right_, controls_;
    std::vector<uint64_t> eventsIn_, eventsOut_;
    std::vector<uint8_t> jobBytes_;
    std::vector<uint32_t> jobSizes_;
    const LV2_State_Interface* state_ = nullptr;
    const LV2_Worker_Interface* worker_ = nullptr;
};

} // namespace marovane_test
