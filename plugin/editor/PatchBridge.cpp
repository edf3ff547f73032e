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
    switch (p.sound) {
    case ParamId::Attack: value = static_cast<float>(patch.attackMs); return true;
    case ParamId::Decay: value = static_cast<float>(patch.decayMs); return true;
    case ParamId::Sustain: value = static_cast<float>(patch.sustainPercent); return true;
    case ParamId::Release: value = static_cast<float>(patch.releaseMs); return true;
    case ParamId::LfoFrequency: value = patch.lfoFrequency; return true;
    case ParamId::LfoWaveform: value = static_cast<float>(patch.lfoWaveform); return true;
    default: return false;
    }
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
    switch (p.sound) {
    case ParamId::Attack: patch.attackMs = Whole(value); return true;
    case ParamId::Decay: patch.decayMs = Whole(value); return true;
    case ParamId::Sustain: patch.sustainPercent = Whole(value); return true;
    case ParamId::Release: patch.releaseMs = Whole(value); return true;
    case ParamId::LfoFrequency: patch.lfoFrequency = value; return true;
    case ParamId::LfoWaveform: patch.lfoWaveform = Whole(value); return true;
    default: return false;
    }
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
