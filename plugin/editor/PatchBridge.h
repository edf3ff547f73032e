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

// Reads a shipped patch with the checks of a patch file. Empty, or the reason.
std::string ReadShippedPatch(const EmbeddedFile& file, Patch& patch);

// Where Save writes, the file browser of the framework having no save mode
// on X11: "Patch N.mrvn" in `folder` with the smallest N from 1 up that names
// no existing file, so a save never replaces a file.
std::string NewPatchPath(const std::string& folder);

} // namespace marovane_plugin
