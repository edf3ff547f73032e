#pragma once
// A spectrum as the plugin's state holds it: 128 levels as text, each written
// so that it reads back bit for bit, separated by single spaces. Shared by the
// sound processor and the editor. Any thread but the audio thread (these
// allocate).

#include <cstdint>
#include <optional>
#include <string>

#include "synth/SynthState.h"

struct Patch;

namespace marovane_plugin {

// The largest level a spectrum may hold, either way: the top of the
// harmonics editor at its widest zoom (a bar's level is 1 / zoom at most,
// and the zoom is 1 or more). Every shipped patch stays within it; a level
// beyond it is no sound the program can make, and 128 of them at 3e38 would
// only overflow.
inline constexpr float kMaxSpectrumLevel = 1.0f;

// Whether `level` is one a spectrum may hold: finite, within
// -kMaxSpectrumLevel to kMaxSpectrumLevel.
inline bool SpectrumLevelInRange(float level)
{
    return level >= -kMaxSpectrumLevel && level <= kMaxSpectrumLevel;
}

// The top of the mod wheel's range in a patch (its bottom is 0).
inline constexpr int32_t kMaxModWheel = 16383;

// The first value of a patch that the plugin cannot hold as it is written:
// a sound parameter outside the range of its plugin parameter (the host and
// the sound processor hold them to it), the mod wheel outside 0 to
// kMaxModWheel, or a spectrum level outside SpectrumLevelInRange (the sound
// processor would refuse the spectrum), looked for in that order, the attack
// spectrum's levels before the sustain's. The preset maker and the editor
// each say it in their own words.
struct PatchValueOutside {
    enum class Kind { Parameter, ModWheel, Level } kind;
    std::string key; // the patch key: "Attack", "ModWheel", "SustainHarmonic5"
    float value;     // the value (the mod wheel's as a float)
    float low, high; // the range it is outside
};
std::optional<PatchValueOutside> FirstValueOutsidePlugin(const Patch& patch);

std::string SpectrumText(const HarmonicSpectrum& spectrum);

// Reads exactly 128 numbers in range (SpectrumLevelInRange) separated by
// white space; false (and `spectrum` untouched) for anything else.
bool ReadSpectrumText(const char* text, HarmonicSpectrum& spectrum);

} // namespace marovane_plugin
