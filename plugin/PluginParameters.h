#pragma once
// The plugin's parameters and state keys, shared by its sound processor and
// its editor. Hosts know a parameter by its index (VST3, CLAP) or its symbol
// (LV2): both are published, so a new parameter only ever goes at the end.
//
// Plain constants: any thread.

#include <cstdint>

#include "synth/Parameters.h"

namespace marovane_plugin {

enum class PluginParamKind : uint8_t {
    Sound,    // one of the sound's parameters (synth/Parameters.h)
    ModWheel, // the mod wheel's position, 0 to 1: the tremolo's depth
};

struct PluginParam {
    PluginParamKind kind;
    ParamId sound; // for Sound
};

// In index order: the sound's six parameters of the first release, its
// volume, the mod wheel, then the band limit (a toggle). The mod wheel's
// value, when the host changes it, sets the tremolo's depth; MIDI controller
// 1 moves the depth too, which the host's control does not follow (it shows
// the last value the host set).
inline constexpr PluginParam kPluginParams[] = {
    {PluginParamKind::Sound, ParamId::Attack},       {PluginParamKind::Sound, ParamId::Decay},
    {PluginParamKind::Sound, ParamId::Sustain},      {PluginParamKind::Sound, ParamId::Release},
    {PluginParamKind::Sound, ParamId::LfoFrequency}, {PluginParamKind::Sound, ParamId::LfoWaveform},
    {PluginParamKind::Sound, ParamId::Volume},       {PluginParamKind::ModWheel, ParamId::Attack},
    {PluginParamKind::Sound, ParamId::BandLimit},
};
inline constexpr uint32_t kPluginParamCount = sizeof kPluginParams / sizeof kPluginParams[0];

// The index of the mod wheel's parameter.
inline constexpr uint32_t kModWheelParamIndex = 7;
static_assert(kPluginParams[kModWheelParamIndex].kind == PluginParamKind::ModWheel);

// The index of the plugin parameter of one of the sound's parameters.
constexpr uint32_t PluginParamIndex(ParamId id)
{
    for (uint32_t i = 0; i < kPluginParamCount; ++i)
        if (kPluginParams[i].kind == PluginParamKind::Sound && kPluginParams[i].sound == id)
            return i;
    return kPluginParamCount;
}
static_assert(PluginParamIndex(ParamId::BandLimit) == 8, "published indices never move");

// Whether plugin parameter `index` is a switch (Parameters.h IsSwitch): a
// host's toggle, the editor's check box.
constexpr bool IsPluginSwitch(uint32_t index)
{
    return index < kPluginParamCount && kPluginParams[index].kind == PluginParamKind::Sound &&
           IsSwitch(::Parameter(kPluginParams[index].sound));
}

inline constexpr const char* kModWheelSymbol = "mod_wheel";
inline constexpr const char* kModWheelLabel = "Mod Wheel";

// The state beside the parameters: each spectrum as text, 128 levels written
// so that they read back bit for bit (FormatPatchFloat), separated by spaces.
inline constexpr const char* kAttackStateKey = "attack";
inline constexpr const char* kSustainStateKey = "sustain";
// The tuning: the whole text of a Scala scale (.scl) and of its keyboard
// mapping (.kbm), as the files hold them; an empty scale is twelve equal
// steps (and the mapping is then not used), an empty mapping none.
inline constexpr const char* kScaleStateKey = "scale";
inline constexpr const char* kKeymapStateKey = "keymap";
// Keys only ever go at the end: hosts keep sessions by them.
enum StateIndex : uint32_t { kAttackState, kSustainState, kScaleState, kKeymapState, kStateCount };

} // namespace marovane_plugin
