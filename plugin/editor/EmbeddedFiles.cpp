#include "EmbeddedFiles.h"

#include <cstring>

namespace marovane_plugin {

const EmbeddedFile* FindEditorPicture(const char* name)
{
    for (size_t i = 0; i < kEditorPictureCount; ++i)
        if (std::strcmp(kEditorPictures[i].name, name) == 0)
            return &kEditorPictures[i];
    return nullptr;
}

} // namespace marovane_plugin
