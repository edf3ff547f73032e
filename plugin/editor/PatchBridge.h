#pragma once
// Between a patch file and the plugin: a patch's values as the plugin's
// parameters (the mod wheel's 0 to 16383 as 0 to 1) and back, the shipped
// patches built into the editor, and where Save puts a new file. Display-free;
// the editor's thread (these allocate and touch files).

#include <cstdint>
#include <string>

#include "EmbeddedFiles.h"
#include "patch/Patch.h"

namespace marovane_plugin {

// The value of plugin parameter `index` that the patch sets; false for a
// parameter that a patch does not hold.
bool PatchParameterValue(const Patch& patch, uint32_t index, float& value);
// Stores plugin parameter `index` into the patch (rounded as the patch holds
// it); false, changing nothing, for a parameter that a patch does not hold.
bool SetPatchParameter(Patch& patch, uint32_t index, float value);

// Why the plugin cannot play the patch as it is written, or the empty string:
// a parameter outside the range of its plugin parameter (the host and the
// sound processor hold them to it, so the patch would not sound as saved),
// the mod wheel outside 0 to 16383, or a spectrum level outside what the
// plugin's state takes (SpectrumLevelInRange, PluginState.h; the sound
// processor would refuse the spectrum and keep the old one). Names the key
// and its value as a patch file writes it:
//   "the value 5 of AttackHarmonic3 is outside -1 to 1"
std::string PatchOutsidePlugin(const Patch& patch);

// Reads a patch file for the editor, with every check of ReadPatchFile and
// PatchOutsidePlugin. The empty string and `patch` filled, or the one message
// the editor shows (PatchLoadMessage) with `patch` untouched.
std::string LoadPatchForPlugin(const std::string& path, Patch& patch);

// Reads a shipped patch with the same checks. Empty, or the reason (`patch`
// untouched).
std::string ReadShippedPatch(const EmbeddedFile& file, Patch& patch);

// Where Save writes, the file browser of the framework having no save mode
// on X11: "Patch N.mrvn" in `folder` with the smallest N from 1 up that names
// no existing file, so a save never replaces a file.
std::string NewPatchPath(const std::string& folder);

} // namespace marovane_plugin
