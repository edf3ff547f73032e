#pragma once
// A spectrum as the plugin's state holds it: 128 levels as text, each written
// so that it reads back bit for bit, separated by single spaces. Shared by the
// sound processor and the editor. Any thread but the audio thread (these
// allocate).

#include <string>

#include "synth/SynthState.h"

namespace marovane_plugin {

std::string SpectrumText(const HarmonicSpectrum& spectrum);

// Reads exactly 128 finite numbers separated by white space; false (and
// `spectrum` untouched) for anything else.
bool ReadSpectrumText(const char* text, HarmonicSpectrum& spectrum);

} // namespace marovane_plugin
