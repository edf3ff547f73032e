// The instrument as an LV2 plugin: one Engine per instance, rendered by the
// host's own thread. run() only translates: the control ports into the
// engine's parameters, the MIDI events into the engine's timed events, and
// the engine's block into the two output ports. The engine cuts the block at
// every event's frame and at its 256-frame grid, which activate() restarts,
// so a host playing in blocks of whole multiples of 256 frames hears what
// marovane-render writes, bit for bit.
//
// Threads, as LV2 classes them: instantiate, activate, deactivate, cleanup
// and restore on the host's instantiation thread (never during run()); run()
// on its audio thread; save() on any thread, also during run().

#include <lv2/atom/atom.h>
#include <lv2/atom/util.h>
#include <lv2/core/lv2.h>
#include <lv2/midi/midi.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "Ports.h"
#include "synth/Engine.h"
#include "synth/OutputGuard.h"

namespace {

using namespace marovane_lv2;

constexpr Sound kStartSound{};
static_assert(kControls[0].defaultValue == kStartSound.attackMs && kControls[1].defaultValue == kStartSound.decayMs &&
                  kControls[2].defaultValue == kStartSound.sustainPercent &&
                  kControls[3].defaultValue == kStartSound.releaseMs &&
                  kControls[4].defaultValue == kStartSound.lfoFrequency &&
                  kControls[5].defaultValue == kStartSound.lfoWaveform,
              "an untouched plugin plays the program's start-up sound");

constexpr int32_t kMinRate = 8000;
constexpr int32_t kMaxRate = 192000;
// Events handed to the engine per call; a block with more is rendered in as
// many calls, which the engine's grid does not see.
constexpr size_t kEventBatch = 512;

struct Uris {
    LV2_URID midiEvent;
    LV2_URID beatTime;
    LV2_URID vector;
    LV2_URID floatType;
    LV2_URID intType;
    LV2_URID attackSpectrum;
    LV2_URID sustainSpectrum;
    LV2_URID stateVersion;
};

struct Instance {
    explicit Instance(int32_t rate) : engine(EngineOptions{rate, false}) {}

    Engine engine;
    Uris uris{};
    const LV2_Atom_Sequence* midiIn = nullptr;
    float* out[2] = {nullptr, nullptr};
    const float* control[kControlCount] = {};
    bool activatedBefore = false;
    EngineEvent events[kEventBatch] = {};
};

LV2_Handle Instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const* features)
{
    if (!(rate >= kMinRate && rate <= kMaxRate))
        return nullptr;
    const LV2_URID_Map* map = nullptr;
    for (int i = 0; features && features[i]; ++i)
        if (std::strcmp(features[i]->URI, LV2_URID__map) == 0)
            map = static_cast<const LV2_URID_Map*>(features[i]->data);
    if (!map)
        return nullptr;
    auto* self = new (std::nothrow) Instance(static_cast<int32_t>(std::lround(rate)));
    if (!self)
        return nullptr;
    auto urid = [map](const char* uri) { return map->map(map->handle, uri); };
    self->uris = {urid(LV2_MIDI__MidiEvent), urid(LV2_ATOM__beatTime),    urid(LV2_ATOM__Vector),
                  urid(LV2_ATOM__Float),     urid(LV2_ATOM__Int),         urid(kAttackSpectrumKey),
                  urid(kSustainSpectrumKey), urid(kStateVersionKey)};
    return self;
}

void ConnectPort(LV2_Handle handle, uint32_t port, void* data)
{
    auto* self = static_cast<Instance*>(handle);
    if (port == kMidiIn)
        self->midiIn = static_cast<const LV2_Atom_Sequence*>(data);
    else if (port == kOutLeft || port == kOutRight)
        self->out[port - kOutLeft] = static_cast<float*>(data);
    else if (port >= kFirstControl && port < kPortCount)
        self->control[port - kFirstControl] = static_cast<const float*>(data);
}

void Activate(LV2_Handle handle)
{
    auto* self = static_cast<Instance*>(handle);
    if (self->activatedBefore) {
        // Notes held when the host stopped are let go: the pedal comes up and
        // every key is released, their tails heard as the next run starts.
        const EngineEvent letGo[2] = {{0, 3, {0xB0, 64, 0}}, {0, 3, {0xB0, 123, 0}}};
        self->engine.Render(nullptr, nullptr, 0, letGo, 2);
    }
    self->activatedBefore = true;
    self->engine.ResetGrid();
}

void Run(LV2_Handle handle, uint32_t frames)
{
    auto* self = static_cast<Instance*>(handle);
    // The engine holds each value to its parameter's range, rounds the
    // whole-number ones (halves away from zero, whatever rounding mode the
    // host's thread has set) and keeps its value for a NaN.
    for (uint32_t c = 0; c < kControlCount; ++c)
        if (self->control[c])
            self->engine.SetParameter(kControls[c].parameter, *self->control[c]);
    float* left = self->out[0];
    float* right = self->out[1];
    if (!left || !right)
        return;

    // The events in batches. Each event's frame is held between the frame
    // reached by the ones before it (a late one plays there) and the block's
    // end, so that a batch ends where its last event plays.
    uint32_t done = 0;
    uint32_t reached = 0;
    size_t count = 0;
    auto renderTo = [&](uint32_t end) {
        for (size_t i = 0; i < count; ++i)
            self->events[i].frame -= done;
        self->engine.Render(left + done, right + done, end - done, self->events, count);
        done = end;
        count = 0;
    };
    const LV2_Atom_Sequence* seq = self->midiIn;
    if (seq && seq->atom.size >= sizeof(LV2_Atom_Sequence_Body)) {
        const bool beats = seq->body.unit == self->uris.beatTime;
        LV2_ATOM_SEQUENCE_FOREACH(seq, ev)
        {
            if (ev->body.type != self->uris.midiEvent || ev->body.size < 1 || ev->body.size > 3)
                continue;
            const int64_t at = beats ? 0 : ev->time.frames;
            reached = static_cast<uint32_t>(std::clamp<int64_t>(at, reached, frames));
            if (count == kEventBatch)
                renderTo(reached);
            EngineEvent& e = self->events[count++];
            e.frame = reached;
            e.size = ev->body.size;
            std::memcpy(e.bytes, LV2_ATOM_BODY_CONST(&ev->body), ev->body.size);
        }
    }
    renderTo(frames);
    SilenceNonFinite(left, frames);
    SilenceNonFinite(right, frames);
}

void Deactivate(LV2_Handle) {}

void Cleanup(LV2_Handle handle) { delete static_cast<Instance*>(handle); }

// ---- State: the two spectra (the host keeps the ports itself) ----

struct FloatVector {
    LV2_Atom_Vector_Body body;
    float values[NUM_PARTIALS];
};

LV2_State_Status Save(LV2_Handle handle, LV2_State_Store_Function store, LV2_State_Handle state, uint32_t,
                      const LV2_Feature* const*)
{
    auto* self = static_cast<Instance*>(handle);
    const SynthState& synth = self->engine.Synth();
    const uint32_t flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    const int32_t version = kStateVersion;
    LV2_State_Status status =
        store(state, self->uris.stateVersion, &version, sizeof version, self->uris.intType, flags);
    const HarmonicSpectrum spectra[2] = {synth.Attack(), synth.Sustain()};
    const LV2_URID keys[2] = {self->uris.attackSpectrum, self->uris.sustainSpectrum};
    for (int s = 0; s < 2 && status == LV2_STATE_SUCCESS; ++s) {
        FloatVector v{{sizeof(float), self->uris.floatType}, {}};
        std::memcpy(v.values, spectra[s].level, sizeof v.values);
        status = store(state, keys[s], &v, sizeof v, self->uris.vector, flags);
    }
    return status;
}

// One spectrum from a restored state: a vector of exactly 128 finite floats.
LV2_State_Status RetrieveSpectrum(const Instance& self, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state,
                                  LV2_URID key, float* out)
{
    size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    const void* data = retrieve(state, key, &size, &type, &flags);
    if (!data)
        return LV2_STATE_ERR_NO_PROPERTY;
    if (type != self.uris.vector || size != sizeof(FloatVector))
        return LV2_STATE_ERR_BAD_TYPE;
    LV2_Atom_Vector_Body body;
    std::memcpy(&body, data, sizeof body);
    if (body.child_type != self.uris.floatType || body.child_size != sizeof(float))
        return LV2_STATE_ERR_BAD_TYPE;
    std::memcpy(out, static_cast<const char*>(data) + sizeof body, NUM_PARTIALS * sizeof(float));
    for (int h = 0; h < NUM_PARTIALS; ++h)
        if (!std::isfinite(out[h]))
            return LV2_STATE_ERR_BAD_TYPE;
    return LV2_STATE_SUCCESS;
}

// Takes both spectra or neither: a state that is not of this layout, of
// another version, or holds a value that is not a finite number, changes
// nothing. The render takes the two spectra whole at the start of a piece.
LV2_State_Status Restore(LV2_Handle handle, LV2_State_Retrieve_Function retrieve, LV2_State_Handle state, uint32_t,
                         const LV2_Feature* const*)
{
    auto* self = static_cast<Instance*>(handle);
    size_t size = 0;
    uint32_t type = 0;
    uint32_t flags = 0;
    const void* version = retrieve(state, self->uris.stateVersion, &size, &type, &flags);
    if (!version)
        return LV2_STATE_ERR_NO_PROPERTY;
    int32_t number = 0;
    if (type != self->uris.intType || size != sizeof number)
        return LV2_STATE_ERR_BAD_TYPE;
    std::memcpy(&number, version, sizeof number);
    if (number != kStateVersion)
        return LV2_STATE_ERR_BAD_TYPE;
    float attack[NUM_PARTIALS];
    float sustain[NUM_PARTIALS];
    LV2_State_Status status = RetrieveSpectrum(*self, retrieve, state, self->uris.attackSpectrum, attack);
    if (status == LV2_STATE_SUCCESS)
        status = RetrieveSpectrum(*self, retrieve, state, self->uris.sustainSpectrum, sustain);
    if (status != LV2_STATE_SUCCESS)
        return status;
    self->engine.Synth().SetSpectra(attack, sustain);
    return LV2_STATE_SUCCESS;
}

const void* ExtensionData(const char* uri)
{
    static const LV2_State_Interface state = {Save, Restore};
    if (std::strcmp(uri, LV2_STATE__interface) == 0)
        return &state;
    return nullptr;
}

const LV2_Descriptor kDescriptor = {kPluginUri, Instantiate, ConnectPort, Activate,
                                    Run,        Deactivate,  Cleanup,     ExtensionData};

} // namespace

extern "C" LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index)
{
    return index == 0 ? &kDescriptor : nullptr;
}
