#include "PluginState.h"

#include <cctype>
#include <charconv>

#include "patch/Patch.h"

namespace marovane_plugin {

std::optional<PatchValueOutside> FirstValueOutsidePlugin(const Patch& patch)
{
    using Kind = PatchValueOutside::Kind;
    for (const ParameterInfo& p : kParameters) {
        const float value = PatchParameter(patch, p.id);
        if (!(value >= p.minimum && value <= p.maximum))
            return PatchValueOutside{Kind::Parameter, p.patchKey, value, p.minimum, p.maximum};
    }
    if (patch.modWheel < 0 || patch.modWheel > kMaxModWheel)
        return PatchValueOutside{Kind::ModWheel, "ModWheel", static_cast<float>(patch.modWheel), 0.0f,
                                 static_cast<float>(kMaxModWheel)};
    for (const bool sustain : {false, true})
        for (int h = 0; h < NUM_PARTIALS; ++h) {
            const float level = (sustain ? patch.sustain : patch.attack).level[h];
            if (!SpectrumLevelInRange(level))
                return PatchValueOutside{Kind::Level,
                                         (sustain ? "SustainHarmonic" : "AttackHarmonic") + std::to_string(h),
                                         level, -kMaxSpectrumLevel, kMaxSpectrumLevel};
        }
    return std::nullopt;
}

std::string SpectrumText(const HarmonicSpectrum& spectrum)
{
    std::string text;
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        if (h != 0)
            text += ' ';
        text += FormatPatchFloat(spectrum.level[h]);
    }
    return text;
}

bool ReadSpectrumText(const char* text, HarmonicSpectrum& spectrum)
{
    if (!text)
        return false;
    HarmonicSpectrum read{};
    const char* p = text;
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        while (std::isspace(static_cast<unsigned char>(*p)))
            ++p;
        const char* start = p;
        while (*p && !std::isspace(static_cast<unsigned char>(*p)))
            ++p;
        if (p == start)
            return false;
        float value = 0.0f;
        const auto [end, error] = std::from_chars(start, p, value);
        if (error != std::errc() || end != p || !SpectrumLevelInRange(value))
            return false;
        read.level[h] = value;
    }
    while (std::isspace(static_cast<unsigned char>(*p)))
        ++p;
    if (*p != '\0')
        return false;
    spectrum = read;
    return true;
}

} // namespace marovane_plugin
