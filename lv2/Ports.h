#pragma once
// The plugin's ports as hosts and saved sessions know them, and its six
// controls: the first six of the sound's parameters (synth/Parameters.h;
// the output volume that follows them has no port here), whose symbols,
// ranges, defaults and whole-number flags they take. The engine holds a
// port's value to that range (SynthState::SetParameter), the preset maker
// refuses a patch outside it, and marovane.ttl states the same numbers (a
// test reads them back through a host library and compares them with the
// table).
//
// Plain constants: any thread.

#include <cstdint>

#include "synth/Parameters.h"

namespace marovane_lv2 {

constexpr const char* kPluginUri = "urn:marovane:synth";

enum Port : uint32_t {
    kMidiIn = 0,
    kOutLeft = 1,
    kOutRight = 2,
    kAttack = 3,
    kDecay = 4,
    kSustain = 5,
    kRelease = 6,
    kLfoRate = 7,
    kLfoShape = 8,
    kPortCount = 9,
};

struct ControlPort {
    uint32_t index;
    const char* symbol;
    float minimum;
    float maximum;
    float defaultValue;
    bool integer; // whole milliseconds, percent or a shape index
    ParamId parameter;
};

constexpr uint32_t kFirstControl = kAttack;
constexpr uint32_t kControlCount = kPortCount - kFirstControl;
static_assert(kControlCount == 6 && kControlCount <= kParameterCount,
              "a port for each of the first six parameters, and only those");

// The port of a parameter: the first kControlCount parameters in their
// table's order, one port each from kFirstControl on.
constexpr ControlPort ControlPortOf(ParamId id)
{
    const ParameterInfo& p = Parameter(id);
    return {kFirstControl + static_cast<uint32_t>(id), p.symbol, p.minimum, p.maximum, p.defaultValue, p.integer, id};
}

// In port order.
constexpr ControlPort kControls[kControlCount] = {
    ControlPortOf(ParamId::Attack),       ControlPortOf(ParamId::Decay),        ControlPortOf(ParamId::Sustain),
    ControlPortOf(ParamId::Release),      ControlPortOf(ParamId::LfoFrequency), ControlPortOf(ParamId::LfoWaveform),
};
static_assert(kControls[0].index == kAttack && kControls[1].index == kDecay && kControls[2].index == kSustain &&
                  kControls[3].index == kRelease && kControls[4].index == kLfoRate && kControls[5].index == kLfoShape,
              "the ports' numbers follow the parameter table");
static_assert(kControls[kControlCount - 1].parameter == ParamId::LfoWaveform &&
                  static_cast<size_t>(ParamId::LfoWaveform) + 1 == kControlCount,
              "the ports are the table's first parameters, in its order");

// The state keys beside the ports: both spectra as vectors of 128 floats,
// and the version of that layout.
constexpr const char* kAttackSpectrumKey = "urn:marovane:synth#attack-spectrum";
constexpr const char* kSustainSpectrumKey = "urn:marovane:synth#sustain-spectrum";
constexpr const char* kStateVersionKey = "urn:marovane:synth#state-version";
constexpr int32_t kStateVersion = 1;

} // namespace marovane_lv2
