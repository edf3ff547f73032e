#pragma once
// The sound's parameters, each described once: its identifier, the symbol a
// plugin host knows it by, its label, unit, range and default, whether it
// takes whole numbers only, and the names of its choices. The window's
// sliders, the plugin's ports and its Turtle, the patch file's keys and the
// preset writer all take their facts from this table (or are checked
// against it when they are built), and the engine clamps a host's value to
// the range here, in one place (SynthState::SetParameter, which
// Engine::SetParameter forwards).
//
// Plain constants: any thread.

#include <cstddef>
#include <cstdint>

enum class ParamId : uint8_t {
    Attack,
    Decay,
    Sustain,
    Release,
    LfoFrequency,
    LfoWaveform,
    Volume,
    BandLimit,
};
constexpr size_t kParameterCount = 8;

// The LFO's shapes, in the order of their numbers (WaveTable.h).
inline constexpr const char* kLfoShapeNames[] = {"Sine", "Square", "Saw", "Triangle", "Sinc", "Pulse 25%", "Trapezoid"};
// The choices of a switch: 0 off, 1 on.
inline constexpr const char* kSwitchNames[] = {"Off", "On"};

struct ParameterInfo {
    ParamId id;
    const char* symbol;   // a plugin port's symbol: fixed once published
    const char* label;    // the host's name for it
    const char* unit;     // "ms", "%", "Hz", "dB", or "" for a choice
    const char* patchKey; // the element and attribute in a patch file
    float minimum;
    float maximum;
    float defaultValue; // the program's start-up value
    bool integer;       // whole numbers only (milliseconds, percent, a shape)
    const char* const* choices = nullptr; // names of 0, 1, ... for a choice
    size_t choiceCount = 0;
};

inline constexpr ParameterInfo kParameters[kParameterCount] = {
    {ParamId::Attack, "attack", "Attack", "ms", "Attack", 0.0f, 1000.0f, 0.0f, true},
    {ParamId::Decay, "decay", "Decay", "ms", "Decay", 0.0f, 1000.0f, 0.0f, true},
    {ParamId::Sustain, "sustain", "Sustain", "%", "Sustain", 0.0f, 100.0f, 100.0f, true},
    {ParamId::Release, "release", "Release", "ms", "Release", 0.0f, 1000.0f, 10.0f, true},
    {ParamId::LfoFrequency, "lfo_rate", "LFO Frequency", "Hz", "LFOFrequency", 0.0f, 20.0f, 5.0f, false},
    {ParamId::LfoWaveform, "lfo_shape", "LFO Waveform", "", "LFOWaveform", 0.0f, 6.0f, 0.0f, true, kLfoShapeNames,
     sizeof kLfoShapeNames / sizeof kLfoShapeNames[0]},
    // The output's gain in decibels, which the engine applies to everything it
    // renders (Engine.h).
    {ParamId::Volume, "volume", "Volume", "dB", "Volume", -60.0f, 6.0f, 0.0f, false},
    // The band limit, a switch (SynthState.h): on, no partial at or above
    // half the sample rate is rendered, and those just below it fade out.
    {ParamId::BandLimit, "band_limit", "Band Limit", "", "BandLimit", 0.0f, 1.0f, 0.0f, true, kSwitchNames,
     sizeof kSwitchNames / sizeof kSwitchNames[0]},
};

constexpr const ParameterInfo& Parameter(ParamId id)
{
    return kParameters[static_cast<size_t>(id)];
}

// Whether a parameter is a switch, off (0) or on (1): a plugin publishes it
// as a toggle.
constexpr bool IsSwitch(const ParameterInfo& p)
{
    return p.choices == kSwitchNames;
}

// The table is in the order of its identifiers, and each choice has a name.
constexpr bool ParameterTableInOrder()
{
    for (size_t i = 0; i < kParameterCount; ++i) {
        const ParameterInfo& p = kParameters[i];
        if (static_cast<size_t>(p.id) != i || !(p.minimum <= p.defaultValue && p.defaultValue <= p.maximum))
            return false;
        if (p.choiceCount != 0 && p.choiceCount != static_cast<size_t>(p.maximum - p.minimum) + 1)
            return false;
    }
    return true;
}
static_assert(ParameterTableInOrder(), "the parameter table must follow ParamId, with defaults in range");

// A value held to the parameter's range, and to the nearest whole number
// (halves away from zero) where the parameter takes only those. Not for a
// NaN: what a NaN means is the caller's to say (SynthState::SetParameter
// keeps the value it has).
constexpr float ClampParameter(const ParameterInfo& p, float value)
{
    if (value < p.minimum)
        value = p.minimum;
    if (value > p.maximum)
        value = p.maximum;
    if (!p.integer)
        return value;
    const float whole = static_cast<float>(static_cast<int32_t>(value)); // toward zero, exact in range
    const float rest = value - whole;                                    // exact: both within 2^23
    if (rest >= 0.5f)
        return whole + 1.0f;
    if (rest <= -0.5f)
        return whole - 1.0f;
    return whole;
}
