#pragma once
// Files built into the editor so that it reads nothing from disk at run time:
// the pictures of its controls (PNG, made from resources/*.bmp when the
// plugin is built) and the shipped patches (resources/patches/*.mrvn, as they
// are). Plain constants: any thread.

#include <cstddef>

namespace marovane_plugin {

struct EmbeddedFile {
    const char* name; // the file's name without its folder and extension
    const unsigned char* data;
    size_t size;
};

extern const EmbeddedFile kEditorPictures[];
extern const size_t kEditorPictureCount;
// Sorted by name.
extern const EmbeddedFile kShippedPatches[];
extern const size_t kShippedPatchCount;

// The file of that name, or nullptr.
const EmbeddedFile* FindEditorPicture(const char* name);

} // namespace marovane_plugin
