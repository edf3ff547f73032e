#pragma once
// A patch: the envelope, the LFO, the output volume, the band limit, the mod
// wheel position and both spectra, as
// read from a ".mrvn" settings document. Reading and writing are shared by the
// main window and the command-line renderer. GUI thread (or any thread that
// owns the document); ApplyPatch only uses the lock-free stores of SynthState.

#include <array>
#include <string>

#include "synth/SynthState.h"

class SettingsFile;

struct Patch {
    int32_t attackMs = 0;
    int32_t decayMs = 0;
    int32_t sustainPercent = 0;
    int32_t releaseMs = 0;
    float lfoFrequency = 0.0f;
    int32_t lfoWaveform = 0; // as found in the file; SynthState clamps it
    float volumeDb = 0.0f;   // as found in the file (none: 0 dB); SynthState holds it to -60 to 6
    int32_t bandLimit = 0;   // as found in the file (none: 0, off); any other value is on
    int32_t modWheel = 0;    // the mod wheel slider's position, 0 to 16383
    HarmonicSpectrum attack = {};
    HarmonicSpectrum sustain = {};
};

// The 265 keys, in the loader's order: Attack, Decay, Sustain, Release,
// LFOFrequency, LFOWaveform, Volume, BandLimit (the engine's parameters, by
// their patch keys), ModWheel, then AttackHarmonic%d and SustainHarmonic%d
// for 0 to 127, in pairs.
constexpr int kPatchKeyCount = 9 + 2 * NUM_PARTIALS;
const std::array<std::string, kPatchKeyCount>& PatchKeys();

// Numbers as the C library's atoi and atof read them in the "C" locale:
// leading white space, a sign, digits (and for a float a point and an
// exponent); reading stops at the first character that cannot continue the
// number, and a text that does not start with one gives 0. An integer beyond
// the range of int32 is held at the nearest end of the range. A float text
// beyond the range of float (1e39) gives infinity, as the conversion does.
// These read what ReadPatch takes; the checked loaders below first refuse a
// text that is not a number as a whole.
int32_t ParsePatchInt(const std::string& text);
float ParsePatchFloat(const std::string& text);
// The shortest text that ParsePatchFloat turns back into the same float, bit
// for bit (the sign of zero included).
std::string FormatPatchFloat(float value);

// The sustain level a patch loads with stays within this many percent either
// way: far beyond any control (0 to 100), and far from where arithmetic on
// it (100 - sustain, say) could overflow.
constexpr int32_t kMaxSustainPercent = 1000;

// Reads the 265 keys; a missing key reads as 0 (for Volume: 0 dB, for
// BandLimit: off). Takes
// what it finds, whatever it is (but the sustain, held as above): the
// loaders below say what they refuse.
Patch ReadPatch(const SettingsFile& doc);

// Reads a patch from a loaded document, refusing one that cannot be a sound:
// a document that holds none of the keys (any other XML file); a value that
// is not a number as a whole (white space may stand before and after it: " 250"
// is 250, "abc", "12abc" and "x7" are refused), or not a whole number for a key
// that takes only those ("2.5" or "1e3" for Attack); and a value that is
// not a finite number (nan, inf, or a text such as 1e39 that is too large for
// a float), which would make every sample of every note NaN. A key that is
// missing, or whose value is empty, reads as 0. Returns the empty string and
// fills `patch`, or the reason, naming the key and its value as written:
//   "it holds none of the patch settings"
//   "the value \"abc\" of Attack is not a whole number"
//   "the value \"2.5\" of LFOWaveform is not a whole number"
//   "the value \"0.5x\" of AttackHarmonic3 is not a number"
//   "the value \"nan\" of SustainHarmonic5 is not a finite number"
// Numbers are kept as found, however far outside the controls' ranges, but
// held as ParsePatchInt holds them and within the sustain's limit above (the
// engine holds the LFO shape and the volume to their ranges when the patch
// is applied).
std::string ReadCheckedPatch(const SettingsFile& doc, Patch& patch);

// Loads a patch file with every check: those of the settings document (size,
// nesting, well-formed XML; see SettingsFile.h) and those above. The path is
// bytes as the system takes them. The empty string and `patch` filled, or the
// reason; `patch` is untouched on failure.
std::string ReadPatchFile(const std::string& path, Patch& patch);

// The one message the window shows for a file it did not load:
//   Cannot load the patch file "PATH": REASON. The sound is unchanged.
std::string PatchLoadMessage(const std::string& path, const std::string& reason);

// One of the sound's parameters as the patch holds it (a whole-number one as
// a float), and the same field set from a value: a whole-number field takes
// the nearest whole number (halves away from zero), held to the range of
// int32; a NaN gives 0. For a plugin's presets and its editor's patches.
float PatchParameter(const Patch& patch, ParamId id);
void SetPatchParameter(Patch& patch, ParamId id, float value);

// The patch's sound, without the mod wheel position.
Sound SoundOfPatch(const Patch& patch);

// Stores the envelope, the LFO and both spectra into the synthesis state, as
// one whole change.
// The mod wheel position is not a synthesis parameter: the window moves its
// slider, and the depth follows when the user next moves it.
void ApplyPatch(const Patch& patch, SynthState& state);

// The sound in the synthesis state as a patch, with the mod wheel slider's
// position (which the state does not hold).
Patch PatchFromState(const SynthState& state, int32_t modWheel);

// The patch as a settings document: the keys in the loader's order, integers
// in decimal, floats by FormatPatchFloat; all 265 but Volume at +0 dB and
// BandLimit at 0 (off), which are left out (so a patch at the default volume
// without the band limit saves as it always has).
void WritePatch(const Patch& patch, SettingsFile& doc);

// Saves a patch file: the document above, written beside the target and
// renamed over it only when complete (ReplaceFile.h). Returns the empty
// string, or what went wrong in one line naming the file; a value that is not
// a finite number is refused (the loader would refuse the file). On failure
// an existing file at `path` is left as it was.
std::string WritePatchFile(const std::string& path, const Patch& patch);
