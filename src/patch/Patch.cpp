#include "Patch.h"

#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <locale.h>

#include "SettingsFile.h"

namespace {

// The GUI toolkit switches the process to the user's locale, where a comma may
// be the decimal separator; patch files always use a point.
locale_t CLocale()
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

} // namespace

int32_t ParsePatchInt(const wxString& text)
{
    const wxScopedCharBuffer utf8 = text.utf8_str();
    errno = 0;
    const long long v = strtoll_l(utf8.data(), nullptr, 10, CLocale());
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

float ParsePatchFloat(const wxString& text)
{
    const wxScopedCharBuffer utf8 = text.utf8_str();
    // atof converts to double; the stored value is that double as a float.
    return static_cast<float>(strtod_l(utf8.data(), nullptr, CLocale()));
}

Patch ReadPatch(const wxSettingsFile& doc)
{
    Patch p;
    p.attackMs = ParsePatchInt(doc.GetValue("Attack"));
    p.decayMs = ParsePatchInt(doc.GetValue("Decay"));
    p.sustainPercent = ParsePatchInt(doc.GetValue("Sustain"));
    p.releaseMs = ParsePatchInt(doc.GetValue("Release"));
    p.lfoFrequency = ParsePatchFloat(doc.GetValue("LFOFrequency"));
    p.lfoWaveform = ParsePatchInt(doc.GetValue("LFOWaveform"));
    p.modWheel = ParsePatchInt(doc.GetValue("ModWheel"));
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        p.attack.level[h] = ParsePatchFloat(doc.GetValue(wxString::Format("AttackHarmonic%d", h)));
        p.sustain.level[h] = ParsePatchFloat(doc.GetValue(wxString::Format("SustainHarmonic%d", h)));
    }
    return p;
}

void ApplyPatch(const Patch& patch, SynthState& state)
{
    state.attackMs = patch.attackMs;
    state.decayMs = patch.decayMs;
    state.sustainPercent = patch.sustainPercent;
    state.releaseMs = patch.releaseMs;
    state.lfoFrequency = patch.lfoFrequency;
    state.SetLfoWaveform(patch.lfoWaveform);
    state.SetSpectra(patch.attack.level, patch.sustain.level);
}
