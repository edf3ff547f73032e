#include "PatchBridge.h"

#include <sys/stat.h>

#include <cmath>

#include "PluginParameters.h"
#include "patch/SettingsFile.h"

namespace marovane_plugin {

namespace {
constexpr float kModWheelTop = 16383.0f;

int32_t Whole(float v)
{
    return static_cast<int32_t>(std::lround(v));
}
} // namespace

bool PatchParameterValue(const Patch& patch, uint32_t index, float& value)
{
    if (index >= kPluginParamCount)
        return false;
    const PluginParam& p = kPluginParams[index];
    if (p.kind == PluginParamKind::ModWheel) {
        value = static_cast<float>(patch.modWheel) / kModWheelTop;
        return true;
    }
    if (p.kind != PluginParamKind::Sound)
        return false;
    value = ::PatchParameter(patch, p.sound);
    return true;
}

bool SetPatchParameter(Patch& patch, uint32_t index, float value)
{
    if (index >= kPluginParamCount)
        return false;
    const PluginParam& p = kPluginParams[index];
    if (p.kind == PluginParamKind::ModWheel) {
        patch.modWheel = Whole(value * kModWheelTop);
        return true;
    }
    if (p.kind != PluginParamKind::Sound)
        return false;
    ::SetPatchParameter(patch, p.sound, value);
    return true;
}

std::string ReadShippedPatch(const EmbeddedFile& file, Patch& patch)
{
    SettingsFile doc;
    std::string error;
    if (!doc.LoadText(reinterpret_cast<const char*>(file.data), file.size, &error))
        return error;
    return ReadCheckedPatch(doc, patch);
}

std::string NewPatchPath(const std::string& folder)
{
    const std::string base = folder.empty() || folder.back() == '/' ? folder : folder + "/";
    for (int n = 1;; ++n) {
        const std::string path = base + "Patch " + std::to_string(n) + ".mrvn";
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            return path;
    }
}

} // namespace marovane_plugin
