#include "Patch.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <locale.h>
#include <unordered_map>

#include "ReplaceFile.h"
#include "SettingsFile.h"
#include "synth/Parameters.h"

namespace {

// The GUI toolkit switches the process to the user's locale, where a comma may
// be the decimal separator; patch files always use a point.
locale_t CLocale()
{
    static locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}

// Where each key's value sits in the loader's order: the engine's parameters
// first, in the order of its table.
constexpr int kAttack = 0, kDecay = 1, kSustain = 2, kRelease = 3, kLfoFrequency = 4, kLfoWaveform = 5,
              kVolume = 6, kBandLimit = 7, kModWheel = 8;
static_assert(kAttack == static_cast<int>(ParamId::Attack) && kDecay == static_cast<int>(ParamId::Decay) &&
              kSustain == static_cast<int>(ParamId::Sustain) && kRelease == static_cast<int>(ParamId::Release) &&
              kLfoFrequency == static_cast<int>(ParamId::LfoFrequency) &&
              kLfoWaveform == static_cast<int>(ParamId::LfoWaveform) && kVolume == static_cast<int>(ParamId::Volume) &&
              kBandLimit == static_cast<int>(ParamId::BandLimit) && kModWheel == static_cast<int>(kParameterCount));
constexpr int kFirstHarmonicKey = kModWheel + 1;
constexpr int AttackHarmonicKey(int h) { return kFirstHarmonicKey + 2 * h; }
constexpr int SustainHarmonicKey(int h) { return kFirstHarmonicKey + 1 + 2 * h; }
static_assert(SustainHarmonicKey(NUM_PARTIALS - 1) == kPatchKeyCount - 1);

bool IsFloatKey(int key) { return key == kLfoFrequency || key == kVolume || key >= kFirstHarmonicKey; }
static_assert(!kParameters[kLfoFrequency].integer && !kParameters[kVolume].integer && kParameters[kAttack].integer &&
              kParameters[kDecay].integer && kParameters[kSustain].integer && kParameters[kRelease].integer &&
              kParameters[kLfoWaveform].integer && kParameters[kBandLimit].integer);

// The value texts of all keys, and whether each was found.
struct Values {
    std::array<std::string, kPatchKeyCount> text;
    std::array<bool, kPatchKeyCount> found = {};
};

// One walk over the document's entries, for all keys at once: for each key
// the first entry of that name, as SettingsFile::GetValue finds it, without
// 265 walks of the document.
Values Collect(const SettingsFile& doc)
{
    static const auto index = [] {
        std::unordered_map<std::string_view, int> m;
        for (int k = 0; k < kPatchKeyCount; ++k)
            m.emplace(PatchKeys()[k], k);
        return m;
    }();
    Values v;
    for (const SettingsFile::Entry& e : doc.Entries()) {
        const auto it = index.find(e.key);
        if (it == index.end() || v.found[it->second])
            continue;
        v.text[it->second] = e.value;
        v.found[it->second] = true;
    }
    return v;
}

// White space as the C library's readers skip it in the "C" locale.
bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool OnlyBlanks(const char* text)
{
    while (IsBlank(*text))
        ++text;
    return *text == '\0';
}

// Why the value text of key `k` is not one the patch can hold, or the empty
// string: the text must be a number as a whole (white space aside), a whole
// number for a whole-number key, and finite.
std::string ValueProblem(int k, const std::string& text)
{
    const char* begin = text.c_str();
    if (OnlyBlanks(begin))
        return {}; // reads as 0, like a missing key
    const std::string value = "the value \"" + text + "\" of " + PatchKeys()[k];
    if (text.find('\0') != std::string::npos)
        return value + " is not a number";
    char* end = nullptr;
    if (IsFloatKey(k)) {
        const double v = strtod_l(begin, &end, CLocale());
        if (end == begin || !OnlyBlanks(end))
            return value + " is not a number";
        if (!std::isfinite(static_cast<float>(v)))
            return value + " is not a finite number";
        return {};
    }
    // Digits only, after an optional sign: no point, no exponent, no "0x".
    const char* p = begin;
    while (IsBlank(*p))
        ++p;
    if (*p == '+' || *p == '-')
        ++p;
    if (*p < '0' || *p > '9')
        return value + " is not a whole number";
    strtoll_l(begin, &end, 10, CLocale()); // a number beyond int32 is held, as ParsePatchInt holds it
    if (end == begin || !OnlyBlanks(end))
        return value + " is not a whole number";
    return {};
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
    p.volumeDb = ParsePatchFloat(v.text[kVolume]);
    p.bandLimit = ParsePatchInt(v.text[kBandLimit]);
    p.modWheel = ParsePatchInt(v.text[kModWheel]);
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        p.attack.level[h] = ParsePatchFloat(v.text[AttackHarmonicKey(h)]);
        p.sustain.level[h] = ParsePatchFloat(v.text[SustainHarmonicKey(h)]);
    }
    return p;
}

} // namespace

const std::array<std::string, kPatchKeyCount>& PatchKeys()
{
    static const std::array<std::string, kPatchKeyCount> keys = [] {
        std::array<std::string, kPatchKeyCount> k;
        for (size_t i = 0; i < kParameterCount; ++i)
            k[i] = kParameters[i].patchKey;
        k[kModWheel] = "ModWheel";
        for (int h = 0; h < NUM_PARTIALS; ++h) {
            k[AttackHarmonicKey(h)] = "AttackHarmonic" + std::to_string(h);
            k[SustainHarmonicKey(h)] = "SustainHarmonic" + std::to_string(h);
        }
        return k;
    }();
    return keys;
}

int32_t ParsePatchInt(const std::string& text)
{
    const long long v = strtoll_l(text.c_str(), nullptr, 10, CLocale());
    if (v > INT32_MAX)
        return INT32_MAX;
    if (v < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

float ParsePatchFloat(const std::string& text)
{
    // atof converts to double; the stored value is that double as a float.
    return static_cast<float>(strtod_l(text.c_str(), nullptr, CLocale()));
}

std::string FormatPatchFloat(float value)
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
    return text;
}

Patch ReadPatch(const SettingsFile& doc)
{
    return FromValues(Collect(doc));
}

std::string ReadCheckedPatch(const SettingsFile& doc, Patch& patch)
{
    const Values v = Collect(doc);
    bool any = false;
    for (bool f : v.found)
        any = any || f;
    if (!any)
        return "it holds none of the patch settings";
    for (int k = 0; k < kPatchKeyCount; ++k)
        if (std::string problem = ValueProblem(k, v.text[k]); !problem.empty())
            return problem;
    patch = FromValues(v);
    return {};
}

std::string ReadPatchFile(const std::string& path, Patch& patch)
{
    SettingsFile doc;
    std::string reason;
    if (!doc.LoadFile(path, &reason))
        return reason;
    return ReadCheckedPatch(doc, patch);
}

std::string PatchLoadMessage(const std::string& path, const std::string& reason)
{
    return "Cannot load the patch file \"" + path + "\": " + reason + ". The sound is unchanged.";
}

float PatchParameter(const Patch& patch, ParamId id)
{
    switch (id) {
    case ParamId::Attack: return static_cast<float>(patch.attackMs);
    case ParamId::Decay: return static_cast<float>(patch.decayMs);
    case ParamId::Sustain: return static_cast<float>(patch.sustainPercent);
    case ParamId::Release: return static_cast<float>(patch.releaseMs);
    case ParamId::LfoFrequency: return patch.lfoFrequency;
    case ParamId::LfoWaveform: return static_cast<float>(patch.lfoWaveform);
    case ParamId::Volume: return patch.volumeDb;
    case ParamId::BandLimit: return static_cast<float>(patch.bandLimit);
    }
    return 0.0f;
}

void SetPatchParameter(Patch& patch, ParamId id, float value)
{
    auto whole = [value]() -> int32_t {
        if (std::isnan(value))
            return 0;
        const double v = std::round(static_cast<double>(value));
        return v <= INT32_MIN ? INT32_MIN : v >= INT32_MAX ? INT32_MAX : static_cast<int32_t>(v);
    };
    switch (id) {
    case ParamId::Attack: patch.attackMs = whole(); break;
    case ParamId::Decay: patch.decayMs = whole(); break;
    case ParamId::Sustain: patch.sustainPercent = whole(); break;
    case ParamId::Release: patch.releaseMs = whole(); break;
    case ParamId::LfoFrequency: patch.lfoFrequency = value; break;
    case ParamId::LfoWaveform: patch.lfoWaveform = whole(); break;
    case ParamId::Volume: patch.volumeDb = value; break;
    case ParamId::BandLimit: patch.bandLimit = whole(); break;
    }
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
    s.volumeDb = patch.volumeDb;
    s.bandLimit = patch.bandLimit != 0;
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
    p.volumeDb = state.volumeDb;
    p.bandLimit = state.bandLimit ? 1 : 0;
    p.modWheel = modWheel;
    p.attack = state.Attack();
    p.sustain = state.Sustain();
    return p;
}

void WritePatch(const Patch& p, SettingsFile& doc)
{
    const auto& keys = PatchKeys();
    const int32_t ints[] = {p.attackMs, p.decayMs, p.sustainPercent, p.releaseMs};
    for (int k = kAttack; k <= kRelease; ++k)
        doc.SetValue(keys[k], std::to_string(ints[k]));
    doc.SetValue(keys[kLfoFrequency], FormatPatchFloat(p.lfoFrequency));
    doc.SetValue(keys[kLfoWaveform], std::to_string(p.lfoWaveform));
    // Only a volume other than 0 dB is written: a patch at the default volume
    // saves as it did before the volume was there. (-0 is written, so that it
    // reads back bit for bit.)
    if (std::bit_cast<uint32_t>(p.volumeDb) != 0)
        doc.SetValue(keys[kVolume], FormatPatchFloat(p.volumeDb));
    // The band limit likewise only when it is on: a patch without it saves
    // as it always has.
    if (p.bandLimit != 0)
        doc.SetValue(keys[kBandLimit], std::to_string(p.bandLimit));
    doc.SetValue(keys[kModWheel], std::to_string(p.modWheel));
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        doc.SetValue(keys[AttackHarmonicKey(h)], FormatPatchFloat(p.attack.level[h]));
        doc.SetValue(keys[SustainHarmonicKey(h)], FormatPatchFloat(p.sustain.level[h]));
    }
}

std::string WritePatchFile(const std::string& path, const Patch& patch)
{
    SettingsFile doc;
    WritePatch(patch, doc);
    // What the loader would refuse is not written.
    const auto& keys = PatchKeys();
    for (int k = 0; k < kPatchKeyCount; ++k)
        if (IsFloatKey(k) && !std::isfinite(ParsePatchFloat(doc.GetValue(keys[k]))))
            return "Cannot save the patch file \"" + path + "\": the value of " + keys[k] + " is not a finite number.";
    const std::string problem = ReplaceFileContents(path, doc.SaveText());
    if (!problem.empty())
        return "Cannot save the patch file \"" + path + "\": " + problem + ".";
    return {};
}
