#include "PluginState.h"

#include <cctype>
#include <charconv>

#include "patch/Patch.h"

namespace marovane_plugin {

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
