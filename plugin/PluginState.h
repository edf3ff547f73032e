#pragma once
// A spectrum as the plugin's state holds it: 128 levels as text, each written
// so that it reads back bit for bit, separated by single spaces. Shared by the
// sound processor and the editor. Any thread but the audio thread (these
// allocate).

#include <string>

#include "synth/SynthState.h"

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

std::string SpectrumText(const HarmonicSpectrum& spectrum);

// Reads exactly 128 numbers in range (SpectrumLevelInRange) separated by
// white space; false (and `spectrum` untouched) for anything else.
bool ReadSpectrumText(const char* text, HarmonicSpectrum& spectrum);

} // namespace marovane_plugin
