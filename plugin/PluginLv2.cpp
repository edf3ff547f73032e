// The LV2 module's entry: the framework's LV2 plugin, with one addition to
// its state's restore. A state saved by the earlier, hand-written LV2 plugin
// holds the sound as urn:marovane:synth#state-version (atom:Int 1) and
// #attack-spectrum / #sustain-spectrum (atom:Vector of 128 atom:Float); this
// plugin keeps the spectra as text under #attack and #sustain. When a state
// has no text spectra but both old ones, whole and finite, they are handed
// to the framework's restore as the text it reads, so an old session opens
// with its sound. A state is taken whole or not at all, and restore says
// when it refused one. The module refuses to start at a sample rate the engine
// does not run at (outside 8000 to 192000 Hz). Everything else goes to the
// framework's functions as it is.
//
// Threads: as the framework's functions they stand for. The added work
// (reading the old state, writing the text) happens in restore, which a host
// never calls on its audio thread.

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <cmath>
#include <cstring>
#include <string>

#include "DistrhoPluginInfo.h"
#include "PluginState.h"

extern "C" const LV2_Descriptor* DISTRHO_PLUGIN_LV2_INNER_DESCRIPTOR(uint32_t index);

namespace marovane_plugin {
namespace {

constexpr int32_t kOldStateVersion = 1;
constexpr const char* kOldVersionKey = DISTRHO_PLUGIN_URI "#state-version";
constexpr const char* kOldAttackKey = DISTRHO_PLUGIN_URI "#attack-spectrum";
constexpr const char* kOldSustainKey = DISTRHO_PLUGIN_URI "#sustain-spectrum";
constexpr const char* kAttackKey = DISTRHO_PLUGIN_URI "#attack";
constexpr const char* kSustainKey = DISTRHO_PLUGIN_URI "#sustain";

const LV2_Descriptor* Inner() { return DISTRHO_PLUGIN_LV2_INNER_DESCRIPTOR(0); }

// One instance: the framework's, and the URIDs restore needs.
struct Instance {
    LV2_Handle inner;
    LV2_URID atomInt, atomFloat, atomVector, atomString;
    LV2_URID oldVersion, oldAttack, oldSustain, attack, sustain;
};

LV2_Handle Instantiate(const LV2_Descriptor*, double rate, const char* bundle, const LV2_Feature* const* features)
{
    if (!(rate >= 8000 && rate <= 192000))
        return nullptr;
    const LV2_URID_Map* map = nullptr;
    for (int i = 0; features && features[i]; ++i)
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<const LV2_URID_Map*>(features[i]->data);
    const LV2_Descriptor* inner = Inner();
    LV2_Handle handle = inner->instantiate(inner, rate, bundle, features);
    if (!handle)
        return nullptr; // the framework has said why (no map among them)
    auto id = [map](const char* uri) { return map->map(map->handle, uri); };
    return new Instance{handle,          id(LV2_ATOM__Int),   id(LV2_ATOM__Float), id(LV2_ATOM__Vector),
                        id(LV2_ATOM__String), id(kOldVersionKey), id(kOldAttackKey), id(kOldSustainKey),
                        id(kAttackKey),  id(kSustainKey)};
}

LV2_Handle InnerOf(LV2_Handle h) { return static_cast<Instance*>(h)->inner; }

void ConnectPort(LV2_Handle h, uint32_t port, void* data) { Inner()->connect_port(InnerOf(h), port, data); }
void Activate(LV2_Handle h) { Inner()->activate(InnerOf(h)); }
void Run(LV2_Handle h, uint32_t frames) { Inner()->run(InnerOf(h), frames); }
void Deactivate(LV2_Handle h) { Inner()->deactivate(InnerOf(h)); }
void Cleanup(LV2_Handle h)
{
    Inner()->cleanup(InnerOf(h));
    delete static_cast<Instance*>(h);
}

const LV2_Options_Interface* InnerOptions()
{
    return static_cast<const LV2_Options_Interface*>(Inner()->extension_data(LV2_OPTIONS__interface));
}
const LV2_State_Interface* InnerState()
{
    return static_cast<const LV2_State_Interface*>(Inner()->extension_data(LV2_STATE__interface));
}
const LV2_Worker_Interface* InnerWorker()
{
    return static_cast<const LV2_Worker_Interface*>(Inner()->extension_data(LV2_WORKER__interface));
}

uint32_t GetOptions(LV2_Handle h, LV2_Options_Option* options) { return InnerOptions()->get(InnerOf(h), options); }
uint32_t SetOptions(LV2_Handle h, const LV2_Options_Option* options)
{
    return InnerOptions()->set(InnerOf(h), options);
}

LV2_Worker_Status Work(LV2_Handle h, LV2_Worker_Respond_Function respond, LV2_Worker_Respond_Handle handle,
                       uint32_t size, const void* data)
{
    return InnerWorker()->work(InnerOf(h), respond, handle, size, data);
}
LV2_Worker_Status WorkResponse(LV2_Handle h, uint32_t size, const void* body)
{
    return InnerWorker()->work_response(InnerOf(h), size, body);
}

LV2_State_Status Save(LV2_Handle h, LV2_State_Store_Function store, LV2_State_Handle handle, uint32_t flags,
                      const LV2_Feature* const* features)
{
    return InnerState()->save(InnerOf(h), store, handle, flags, features);
}

// The host's retrieve, with the old state's spectra offered as text.
struct Converted {
    const Instance* self;
    LV2_State_Retrieve_Function retrieve;
    LV2_State_Handle handle;
    std::string attack, sustain;
};

const void* RetrieveConverted(LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
{
    auto* c = static_cast<Converted*>(h);
    const std::string* text = key == c->self->attack ? &c->attack : key == c->self->sustain ? &c->sustain : nullptr;
    if (!text)
        return c->retrieve(c->handle, key, size, type, flags);
    *size = text->size() + 1;
    *type = c->self->atomString;
    *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    return text->c_str();
}

// An old spectrum: a vector of exactly 128 finite floats.
bool OldSpectrum(const Instance& self, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, LV2_URID key,
                 HarmonicSpectrum& spectrum)
{
    size_t size = 0;
    uint32_t type = 0, flags = 0;
    const void* data = retrieve(handle, key, &size, &type, &flags);
    LV2_Atom_Vector_Body body;
    if (!data || type != self.atomVector || size != sizeof body + sizeof spectrum.level)
        return false;
    std::memcpy(&body, data, sizeof body);
    if (body.child_type != self.atomFloat || body.child_size != sizeof(float))
        return false;
    std::memcpy(spectrum.level, static_cast<const char*>(data) + sizeof body, sizeof spectrum.level);
    for (float level : spectrum.level)
        if (!std::isfinite(level))
            return false;
    return true;
}

// Whether the state is the earlier plugin's, of the one version it wrote,
// with no text spectra of this plugin's.
bool IsOldState(const Instance& self, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle)
{
    size_t size = 0;
    uint32_t type = 0, flags = 0;
    if (retrieve(handle, self.attack, &size, &type, &flags) || retrieve(handle, self.sustain, &size, &type, &flags))
        return false;
    const void* version = retrieve(handle, self.oldVersion, &size, &type, &flags);
    int32_t number = 0;
    if (!version || type != self.atomInt || size != sizeof number)
        return false;
    std::memcpy(&number, version, sizeof number);
    return number == kOldStateVersion;
}

// One text spectrum of this plugin's state: present, a string ending in its
// terminating zero, and 128 levels ReadSpectrumText takes.
LV2_State_Status CheckTextSpectrum(const Instance& self, LV2_State_Retrieve_Function retrieve,
                                   LV2_State_Handle handle, LV2_URID key)
{
    size_t size = 0;
    uint32_t type = 0, flags = 0;
    const void* data = retrieve(handle, key, &size, &type, &flags);
    if (!data)
        return LV2_STATE_ERR_NO_PROPERTY;
    const char* text = static_cast<const char*>(data);
    HarmonicSpectrum spectrum;
    if (type != self.atomString || size == 0 || text[size - 1] != '\0' || !ReadSpectrumText(text, spectrum))
        return LV2_STATE_ERR_BAD_TYPE;
    return LV2_STATE_SUCCESS;
}

// Takes a state whole or not at all: both spectra must be there and sound
// (the framework would take each key it can on its own, and report success
// for a state it refused), or the earlier plugin's whole state.
LV2_State_Status Restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle, uint32_t flags,
                         const LV2_Feature* const* features)
{
    const Instance& self = *static_cast<Instance*>(h);
    if (IsOldState(self, retrieve, handle)) {
        HarmonicSpectrum attack, sustain;
        if (!OldSpectrum(self, retrieve, handle, self.oldAttack, attack) ||
            !OldSpectrum(self, retrieve, handle, self.oldSustain, sustain))
            return LV2_STATE_ERR_BAD_TYPE;
        Converted c{&self, retrieve, handle, SpectrumText(attack), SpectrumText(sustain)};
        return InnerState()->restore(self.inner, &RetrieveConverted, &c, flags, features);
    }
    for (LV2_URID key : {self.attack, self.sustain}) {
        const LV2_State_Status status = CheckTextSpectrum(self, retrieve, handle, key);
        if (status != LV2_STATE_SUCCESS)
            return status;
    }
    return InnerState()->restore(self.inner, retrieve, handle, flags, features);
}

const void* ExtensionData(const char* uri)
{
    static const LV2_Options_Interface options = {GetOptions, SetOptions};
    static const LV2_State_Interface state = {Save, Restore};
    static const LV2_Worker_Interface worker = {Work, WorkResponse, nullptr};
    const void* inner = Inner()->extension_data(uri);
    if (!inner)
        return nullptr;
    if (std::strcmp(uri, LV2_OPTIONS__interface) == 0)
        return &options;
    if (std::strcmp(uri, LV2_STATE__interface) == 0)
        return &state;
    if (std::strcmp(uri, LV2_WORKER__interface) == 0)
        return &worker;
    return nullptr; // an interface taking the instance that is not wrapped here
}

const LV2_Descriptor kDescriptor = {DISTRHO_PLUGIN_URI, Instantiate, ConnectPort, Activate,
                                    Run,                Deactivate,  Cleanup,     ExtensionData};

} // namespace
} // namespace marovane_plugin

extern "C" __attribute__((visibility("default"))) const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &marovane_plugin::kDescriptor : nullptr;
}
