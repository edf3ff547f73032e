#include "Patch.h"

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <unordered_map>

#include <wx/hashmap.h>

#include "ReplaceFile.h"
#include "SettingsFile.h"

namespace {

// The GUI toolkit switches the process to the user's locale, where a comma may
// be the decimal separator; patch files always use a point.
locale_t CLocale()
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

// Where each key's value sits in the loader's order.
constexpr int kAttack = 0, kDecay = 1, kSustain = 2, kRelease = 3, kLfoFrequency = 4, kLfoWaveform = 5,
              kModWheel = 6;
constexpr int AttackHarmonicKey(int h) { return 7 + 2 * h; }
constexpr int SustainHarmonicKey(int h) { return 8 + 2 * h; }

bool IsFloatKey(int key) { return key == kLfoFrequency || key >= 7; }

// The value texts of all keys, and whether each was found.
struct Values {
    std::array<wxString, kPatchKeyCount> text;
    std::array<bool, kPatchKeyCount> found = {};
};

// One walk over the root's children, for all keys at once: for each key the
// first element of that name that carries the attribute of that name, as
// wxSettingsFile::GetValue finds it, without 263 walks of the document.
Values Collect(const wxSettingsFile& doc)
{
    static const auto index = [] {
        std::unordered_map<wxString, int, wxStringHash, wxStringEqual> m;
        for (int k = 0; k < kPatchKeyCount; ++k)
            m.emplace(PatchKeys()[k], k);
        return m;
    }();
    Values v;
    const wxXmlNode* root = doc.GetRoot();
    for (const wxXmlNode* node = root ? root->GetChildren() : nullptr; node; node = node->GetNext()) {
        if (node->GetType() != wxXML_ELEMENT_NODE)
            continue;
        const auto it = index.find(node->GetName());
        if (it == index.end() || v.found[it->second])
            continue;
        for (const wxXmlAttribute* attr = node->GetAttributes(); attr; attr = attr->GetNext()) {
            if (attr->GetName() == node->GetName()) {
                v.text[it->second] = attr->GetValue();
                v.found[it->second] = true;
                break;
            }
        }
    }
    return v;
}

Patch FromValues(const Values& v)
{
    Patch p;
    p.attackMs = ParsePatchInt(v.text[kAttack]);
    p.decayMs = ParsePatchInt(v.text[kDecay]);
    p.sustainPercent = std::clamp(ParsePatchInt(v.text[kSustain]), -kMaxSustainPercent, kMaxSustainPercent);
    p.releaseMs = ParsePatchInt(v.text[kRelease]);
    p.lfoFrequency = ParsePatchFloat(v.text[kLfoFrequency]);
    p.lfoWaveform = ParsePatchInt(v.text[kLfoWaveform]);
    p.modWheel = ParsePatchInt(v.text[kModWheel]);
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        p.attack.level[h] = ParsePatchFloat(v.text[AttackHarmonicKey(h)]);
        p.sustain.level[h] = ParsePatchFloat(v.text[SustainHarmonicKey(h)]);
    }
    return p;
}

} // namespace

const std::array<wxString, kPatchKeyCount>& PatchKeys()
{
    static const std::array<wxString, kPatchKeyCount> keys = [] {
        std::array<wxString, kPatchKeyCount> k;
        const char* scalars[] = {"Attack", "Decay", "Sustain", "Release", "LFOFrequency", "LFOWaveform", "ModWheel"};
        for (int i = 0; i < 7; ++i)
            k[i] = scalars[i];
        for (int h = 0; h < NUM_PARTIALS; ++h) {
            k[AttackHarmonicKey(h)] = wxString::Format("AttackHarmonic%d", h);
            k[SustainHarmonicKey(h)] = wxString::Format("SustainHarmonic%d", h);
        }
        return k;
    }();
    return keys;
}

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

wxString FormatPatchFloat(float value)
{
    // The shortest text that reads back as this float is nearly always right,
    // but the reader goes through a double first; where that second rounding
    // would land elsewhere, nine significant digits always come back.
    char text[64];
    for (int precision : {-1, 9, 17}) {
        const std::to_chars_result r = precision < 0
                                           ? std::to_chars(text, text + sizeof text - 1, value)
                                           : std::to_chars(text, text + sizeof text - 1, value,
                                                           std::chars_format::general, precision);
        *r.ptr = '\0';
        const float back = ParsePatchFloat(text);
        if (std::memcmp(&back, &value, sizeof value) == 0)
            break;
    }
    return wxString::FromAscii(text);
}

Patch ReadPatch(const wxSettingsFile& doc)
{
    return FromValues(Collect(doc));
}

wxString ReadCheckedPatch(const wxSettingsFile& doc, Patch& patch)
{
    const Values v = Collect(doc);
    bool any = false;
    for (bool f : v.found)
        any = any || f;
    if (!any)
        return "it holds none of the patch settings";
    for (int k = 0; k < kPatchKeyCount; ++k)
        if (IsFloatKey(k) && !std::isfinite(ParsePatchFloat(v.text[k])))
            return wxString::Format("the value \"%s\" of %s is not a finite number", v.text[k], PatchKeys()[k]);
    patch = FromValues(v);
    return {};
}

wxString ReadPatchFile(const wxString& path, Patch& patch)
{
    wxSettingsFile doc;
    wxString reason;
    if (!doc.LoadFile(path, &reason))
        return reason;
    return ReadCheckedPatch(doc, patch);
}

wxString PatchLoadMessage(const wxString& path, const wxString& reason)
{
    return wxString::Format("Cannot load the patch file \"%s\": %s. The sound is unchanged.", path, reason);
}

Sound SoundOfPatch(const Patch& patch)
{
    Sound s;
    s.attackMs = patch.attackMs;
    s.decayMs = patch.decayMs;
    s.sustainPercent = patch.sustainPercent;
    s.releaseMs = patch.releaseMs;
    s.lfoFrequency = patch.lfoFrequency;
    s.lfoWaveform = patch.lfoWaveform;
    s.attack = patch.attack;
    s.sustain = patch.sustain;
    return s;
}

void ApplyPatch(const Patch& patch, SynthState& state)
{
    // One whole change: no buffer plays half of the old sound and half of the
    // new one.
    state.SetSound(SoundOfPatch(patch));
}

Patch PatchFromState(const SynthState& state, int32_t modWheel)
{
    Patch p;
    p.attackMs = state.attackMs;
    p.decayMs = state.decayMs;
    p.sustainPercent = state.sustainPercent;
    p.releaseMs = state.releaseMs;
    p.lfoFrequency = state.lfoFrequency;
    p.lfoWaveform = state.LfoWaveform();
    p.modWheel = modWheel;
    p.attack = state.Attack();
    p.sustain = state.Sustain();
    return p;
}

void WritePatch(const Patch& p, wxSettingsFile& doc)
{
    const auto& keys = PatchKeys();
    const int32_t ints[] = {p.attackMs, p.decayMs, p.sustainPercent, p.releaseMs};
    for (int k = kAttack; k <= kRelease; ++k)
        doc.SetValue(keys[k], wxString::Format("%d", ints[k]));
    doc.SetValue(keys[kLfoFrequency], FormatPatchFloat(p.lfoFrequency));
    doc.SetValue(keys[kLfoWaveform], wxString::Format("%d", p.lfoWaveform));
    doc.SetValue(keys[kModWheel], wxString::Format("%d", p.modWheel));
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        doc.SetValue(keys[AttackHarmonicKey(h)], FormatPatchFloat(p.attack.level[h]));
        doc.SetValue(keys[SustainHarmonicKey(h)], FormatPatchFloat(p.sustain.level[h]));
    }
}

wxString WritePatchFile(const wxString& path, const Patch& patch)
{
    wxSettingsFile doc;
    WritePatch(patch, doc);
    // What the loader would refuse is not written.
    const auto& keys = PatchKeys();
    for (int k = 0; k < kPatchKeyCount; ++k)
        if (IsFloatKey(k) && !std::isfinite(ParsePatchFloat(doc.GetValue(keys[k]))))
            return wxString::Format("Cannot save the patch file \"%s\": the value of %s is not a finite number.",
                                    path, keys[k]);
    wxString text, error;
    if (!doc.SaveText(text, &error))
        return wxString::Format("Cannot save the patch file \"%s\": %s.", path, error);
    const wxScopedCharBuffer utf8 = text.utf8_str();
    const std::string problem = ReplaceFileContents(std::string(path.utf8_str()), std::string(utf8.data(), utf8.length()));
    if (!problem.empty())
        return wxString::Format("Cannot save the patch file \"%s\": %s.", path, wxString::FromUTF8(problem));
    return {};
}
