#pragma once
// A patch: the envelope, the LFO, the mod wheel position and both spectra, as
// read from a ".mrvn" settings document. Reading is shared by the main
// window's loader and the command-line renderer. GUI thread (or any thread
// that owns the document); ApplyPatch only uses the lock-free stores of
// SynthState.

#include <wx/string.h>

#include "synth/SynthState.h"

class wxSettingsFile;

struct Patch {
    int32_t attackMs = 0;
    int32_t decayMs = 0;
    int32_t sustainPercent = 0;
    int32_t releaseMs = 0;
    float lfoFrequency = 0.0f;
    int32_t lfoWaveform = 0; // as found in the file; SynthState clamps it
    int32_t modWheel = 0;    // the mod wheel slider's position, 0 to 16383
    HarmonicSpectrum attack = {};
    HarmonicSpectrum sustain = {};
};

// Numbers as the C library's atoi and atof read them in the "C" locale:
// leading white space, a sign, digits (and for a float a point and an
// exponent); anything that does not start a number gives 0. An integer beyond
// the range of int32 is held at the nearest end of the range.
int32_t ParsePatchInt(const wxString& text);
float ParsePatchFloat(const wxString& text);

// The 263 keys, in the loader's order: Attack, Decay, Sustain, Release,
// LFOFrequency, LFOWaveform, ModWheel, then AttackHarmonic%d and
// SustainHarmonic%d for 0 to 127. A missing key reads as 0.
Patch ReadPatch(const wxSettingsFile& doc);

// Stores the envelope, the LFO and both spectra into the synthesis state.
// The mod wheel position is not a synthesis parameter: the window moves its
// slider, and the depth follows when the user next moves it.
void ApplyPatch(const Patch& patch, SynthState& state);
