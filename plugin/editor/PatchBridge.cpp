#include "PatchBridge.h"

#include <sys/stat.h>

#include <cmath>

#include "PluginParameters.h"
#include "PluginState.h"
#include "patch/SettingsFile.h"

namespace marovane_plugin {

namespace {
constexpr float kModWheelTop = static_cast<float>(kMaxModWheel);

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
        value = SynthState::ModWheelDepthFromValue(patch.modWheel);
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
    Patch read;
    if (std::string reason = ReadCheckedPatch(doc, read); !reason.empty())
        return reason;
    if (std::string reason = PatchOutsidePlugin(read); !reason.empty())
        return reason;
    patch = read;
    return {};
}

std::string PatchOutsidePlugin(const Patch& patch)
{
    const std::optional<PatchValueOutside> v = FirstValueOutsidePlugin(patch);
    if (!v)
        return {};
    return "the value " + FormatPatchFloat(v->value) + " of " + v->key + " is outside " + FormatPatchFloat(v->low) +
           " to " + FormatPatchFloat(v->high);
}

std::string LoadPatchForPlugin(const std::string& path, Patch& patch)
{
    Patch read;
    std::string reason = ReadPatchFile(path, read);
    if (reason.empty())
        reason = PatchOutsidePlugin(read);
    if (!reason.empty())
        return PatchLoadMessage(path, reason);
    patch = read;
    return {};
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
