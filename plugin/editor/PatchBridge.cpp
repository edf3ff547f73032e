#include "PatchBridge.h"

#include <sys/stat.h>

#include <cmath>

#include "PluginParameters.h"
#include "PluginState.h"
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
    auto outside = [](const std::string& key, float value, float low, float high) {
        return "the value " + FormatPatchFloat(value) + " of " + key + " is outside " + FormatPatchFloat(low) +
               " to " + FormatPatchFloat(high);
    };
    for (size_t i = 0; i < kParameterCount; ++i) {
        const ParameterInfo& p = kParameters[i];
        const float value = ::PatchParameter(patch, p.id);
        if (!(value >= p.minimum && value <= p.maximum))
            return outside(p.patchKey, value, p.minimum, p.maximum);
    }
    if (patch.modWheel < 0 || patch.modWheel > static_cast<int32_t>(kModWheelTop))
        return outside("ModWheel", static_cast<float>(patch.modWheel), 0.0f, kModWheelTop);
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        if (!SpectrumLevelInRange(patch.attack.level[h]))
            return outside("AttackHarmonic" + std::to_string(h), patch.attack.level[h], -kMaxSpectrumLevel,
                           kMaxSpectrumLevel);
        if (!SpectrumLevelInRange(patch.sustain.level[h]))
            return outside("SustainHarmonic" + std::to_string(h), patch.sustain.level[h], -kMaxSpectrumLevel,
                           kMaxSpectrumLevel);
    }
    return {};
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
