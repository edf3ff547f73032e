#include "PresetWriter.h"

#include <cstdio>

#include "PluginParameters.h"
#include "PluginState.h"
#include "synth/Parameters.h"

namespace marovane_preset {

using namespace marovane_plugin;

namespace {

// Nine significant digits: the host libraries read a literal through a
// double, and from nine digits that comes back to the same float.
std::string Number(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

// The length of the UTF-8 sequence that starts `text` at `i` (1 to 4), or 0
// when it is not one: a stray continuation byte, a sequence cut short, an
// overlong form, a surrogate or a code point past U+10FFFF.
size_t Utf8Length(const std::string& text, size_t i)
{
    const auto byte = [&](size_t k) { return k < text.size() ? static_cast<unsigned char>(text[k]) : 0u; };
    const unsigned c = byte(i);
    if (c < 0x80)
        return 1;
    const size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    for (size_t k = 1; k < n; ++k)
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
    const unsigned second = byte(i + 1);
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second > 0x8F))
        return 0;
    return n;
}

// The plugin parameter's value in the patch.
float PluginValue(const Patch& p, const PluginParam& param)
{
    return param.kind == PluginParamKind::ModWheel ? ModWheelValue(p) : PatchParameter(p, param.sound);
}

const char* PluginSymbol(const PluginParam& param)
{
    return param.kind == PluginParamKind::ModWheel ? kModWheelSymbol : Parameter(param.sound).symbol;
}

// A spectrum as the plugin's state holds it: a string of 128 levels. A plain
// literal, which hosts hand to the plugin as an atom:String (a literal typed
// atom:String they do not).
std::string SpectrumTurtle(const char* key, const HarmonicSpectrum& spectrum)
{
    return std::string("        <") + kPluginUri + "#" + key + "> " + TurtleString(SpectrumText(spectrum));
}

} // namespace

std::string FloatText(float value)
{
    std::string s = Number(value);
    if (s.find_first_of(".eEn") == std::string::npos)
        s += ".0";
    return s;
}

float ModWheelValue(const Patch& patch)
{
    return SynthState::ModWheelDepthFromValue(patch.modWheel);
}

std::string PatchName(const std::string& path)
{
    std::string name = path.substr(path.find_last_of('/') + 1);
    const std::string extension = ".mrvn";
    if (name.size() > extension.size() && name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
        name.resize(name.size() - extension.size());
    return name;
}

std::string TurtleString(const std::string& text)
{
    std::string out = "\"";
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8Length(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD"; // U+FFFD, the replacement character
            ++i;
            continue;
        }
        const char c = text[i];
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (n == 1 && (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
                out += escape;
            } else {
                out.append(text, i, n);
            }
        }
        i += n;
    }
    return out + "\"";
}

std::string UriName(const std::string& name)
{
    std::string out;
    for (unsigned char c : name) {
        if (c == ' ') {
            out += '-';
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                   c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string PatchOutOfRange(const Patch& patch, const SettingsFile* written)
{
    const std::optional<PatchValueOutside> v = FirstValueOutsidePlugin(patch);
    if (!v)
        return {};
    switch (v->kind) {
    case PatchValueOutside::Kind::Parameter: {
        // The value as the file wrote it, where it is there to quote: a
        // number beyond the loader's limits reads back held at them.
        std::string shown = Number(v->value);
        if (written && written->HasValue(v->key)) {
            const std::string text = written->GetValue(v->key);
            const size_t from = text.find_first_not_of(" \t\n\v\f\r");
            if (from != std::string::npos)
                shown = text.substr(from, text.find_last_not_of(" \t\n\v\f\r") - from + 1);
        }
        return "the " + v->key + " value " + shown + " is outside the plugin's range " + Number(v->low) + " to " +
               Number(v->high);
    }
    case PatchValueOutside::Kind::ModWheel:
        return "the ModWheel value " + std::to_string(patch.modWheel) + " is outside the plugin's range 0 to " +
               std::to_string(kMaxModWheel);
    case PatchValueOutside::Kind::Level:
        return "the " + v->key + " level " + FormatPatchFloat(v->value) + " is outside the spectrum's range " +
               Number(v->low) + " to " + Number(v->high);
    }
    return {};
}

std::string TurtlePrefixes()
{
    return "@prefix atom:  <http://lv2plug.in/ns/ext/atom#> .\n"
           "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
           "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
           "@prefix rdf:   <http://www.w3.org/1999/02/22-rdf-syntax-ns#> .\n"
           "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
           "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n"
           "@prefix xsd:   <http://www.w3.org/2001/XMLSchema#> .\n";
}

std::string PresetTurtle(const std::string& uri, const std::string& label, const Patch& patch)
{
    std::string s = "\n<" + uri + ">\n    a pset:Preset ;\n    lv2:appliesTo <" + kPluginUri + "> ;\n" +
                    "    rdfs:label " + TurtleString(label) + " ;\n    lv2:port ";
    for (const PluginParam& p : kPluginParams)
        s += std::string(&p == kPluginParams ? "" : " , ") + "[\n        lv2:symbol " + TurtleString(PluginSymbol(p)) +
             " ;\n        pset:value " + FloatText(PluginValue(patch, p)) + "\n    ]";
    s += " ;\n    state:state [\n" + SpectrumTurtle(kAttackStateKey, patch.attack) + " ;\n" +
         SpectrumTurtle(kSustainStateKey, patch.sustain) + "\n    ] .\n";
    return s;
}

std::string OwnPresetLabel(const std::string& name, const std::vector<std::string>& shipped)
{
    const std::string own = " (own)";
    std::string base = name;
    while (base.size() > own.size() && base.compare(base.size() - own.size(), own.size(), own) == 0)
        base.resize(base.size() - own.size());
    for (const std::string& s : shipped)
        if (s == base)
            return name + own;
    return name;
}

std::string PresetManifestEntry(const std::string& uri, const std::string& file)
{
    return "\n<" + uri + ">\n    a pset:Preset ;\n    lv2:appliesTo <" + kPluginUri + "> ;\n" +
           "    rdfs:seeAlso <" + file + "> .\n";
}

} // namespace marovane_preset
