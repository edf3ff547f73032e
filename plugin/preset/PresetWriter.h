#pragma once
// Patches as presets of the plugin, in Turtle: a value for each of the
// plugin's parameters (PluginParameters.h; the sound's by their symbols,
// ranges and keys from the engine's table, synth/Parameters.h, and the mod
// wheel's position), and the two spectra as the plugin keeps its state: the
// keys urn:marovane:synth#attack and #sustain, each an atom:String of 128
// levels (SpectrumText). The patch itself is read by the program's own patch
// reader; this only writes. Used at build time for the shipped patches and by
// marovane-preset for a player's own. Any thread; no shared state.

#include <string>
#include <vector>

#include "patch/Patch.h"
#include "patch/SettingsFile.h"

namespace marovane_preset {

// The plugin's URI, which every preset applies to.
inline constexpr const char* kPluginUri = "urn:marovane:synth";

// The preset's name part of a patch file: the file's name without its folder
// and its ".mrvn", so "patches/Square Lead.mrvn" gives "Square Lead".
std::string PatchName(const std::string& path);

// `text` as a Turtle string literal, in double quotes: a quote, a backslash
// and the line breaks escaped, any other control character as \uXXXX, and
// bytes that are not UTF-8 as U+FFFD. A patch's name is its file's, which
// may hold any byte but '/'.
std::string TurtleString(const std::string& text);

// The name as it stands in a URI: spaces become '-', other bytes beyond
// letters, digits and "-._~" are percent-encoded ("Square-Lead").
std::string UriName(const std::string& name);

// Empty when every value of the patch fits the plugin; otherwise the first
// that does not: a parameter outside its range (the whole-number ones are
// whole: the reader refuses a fraction for them), as
//   the Attack value 1500 is outside the plugin's range 0 to 1000
// with the value as `written` holds it, when given (the document the patch
// was read from: the reader holds a sustain of 99999999999 at 1000, which is
// not what the file says); a level the editor cannot draw
// (SpectrumLevelInRange, PluginState.h), as
//   the SustainHarmonic5 level 3.4e+38 is outside the spectrum's range -1 to 1
// or the mod wheel outside 0 to 16383, as
//   the ModWheel value 20000 is outside the plugin's range 0 to 16383
std::string PatchOutOfRange(const Patch& patch, const SettingsFile* written = nullptr);

// The Turtle prefixes the two functions below use.
std::string TurtlePrefixes();

// The mod wheel's position as the plugin's mod_wheel value: what the engine
// makes of the patch's wheel (SynthState::ModWheelDepthFromValue).
float ModWheelValue(const Patch& patch);

// A float as a Turtle literal that reads back to the same float (nine
// significant digits; "1.0" rather than "1").
std::string FloatText(float value);

// One preset, with its URI, its label and its values.
std::string PresetTurtle(const std::string& uri, const std::string& label, const Patch& patch);

// The label a player's own preset of this name shows in a host: the name
// itself, unless a shipped preset (one of `shipped`) is called so, or the
// name is a shipped one followed by one or more " (own)": then the name
// followed by " (own)". No two names give one label, and none gives a
// shipped preset's, so a host never lists two presets under one label.
std::string OwnPresetLabel(const std::string& name, const std::vector<std::string>& shipped);

// The lines of a manifest that tell hosts about a preset without loading it.
std::string PresetManifestEntry(const std::string& uri, const std::string& file);

} // namespace marovane_preset
