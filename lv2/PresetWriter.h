#pragma once
// Patches as presets of the plugin, in Turtle: the six control ports' values
// (their symbols, ranges and keys from the engine's parameter table,
// synth/Parameters.h) and the two spectra as the plugin's state. The patch itself is read by the
// program's own patch reader; this only writes. Used at build time for the
// shipped patches and by marovane-preset for a player's own. Any thread; no
// shared state.

#include <string>

#include "patch/Patch.h"
#include "patch/SettingsFile.h"

namespace marovane_lv2 {

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

// Empty when every port value of the patch lies within its port's range
// (the whole-number ones are whole: the reader refuses a fraction for them);
// otherwise the first that does not, as
//   the Attack value 1500 is outside the plugin's range 0 to 1000
// with the value as `written` holds it, when given (the document the patch
// was read from: the reader holds a sustain of 99999999999 at 1000, which is
// not what the file says). The spectra are not ranged (the reader has refused
// what is not finite) and the mod wheel position is not a port: it comes by
// MIDI.
std::string PatchOutOfRange(const Patch& patch, const SettingsFile* written = nullptr);

// The Turtle prefixes the two functions below use.
std::string TurtlePrefixes();

// One preset, with its URI, its label and its values.
std::string PresetTurtle(const std::string& uri, const std::string& label, const Patch& patch);

// The lines of a manifest that tell hosts about a preset without loading it.
std::string PresetManifestEntry(const std::string& uri, const std::string& file);

} // namespace marovane_lv2
