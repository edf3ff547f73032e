#include "PresetWriter.h"

#include <cstdio>

#include "Ports.h"

namespace marovane_lv2 {

namespace {

// Nine significant digits: the host libraries read a literal through a
// double, and from nine digits that comes back to the same float.
std::string Number(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

// A Turtle decimal or double literal.
std::string FloatText(float value)
{
    std::string s = Number(value);
    if (s.find_first_of(".eEn") == std::string::npos)
        s += ".0";
    return s;
}

std::string Quoted(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// The patch's value for each control port, in port order, and the patch
// key it comes from.
struct PortValue {
    const char* key;
    float value;
};

void PortValues(const Patch& p, PortValue (&out)[kControlCount])
{
    out[0] = {"Attack", static_cast<float>(p.attackMs)};
    out[1] = {"Decay", static_cast<float>(p.decayMs)};
    out[2] = {"Sustain", static_cast<float>(p.sustainPercent)};
    out[3] = {"Release", static_cast<float>(p.releaseMs)};
    out[4] = {"LFOFrequency", p.lfoFrequency};
    out[5] = {"LFOWaveform", static_cast<float>(p.lfoWaveform)};
}

std::string SpectrumTurtle(const char* key, const HarmonicSpectrum& spectrum)
{
    std::string s = std::string("        <") + key + "> [\n            a atom:Vector ;\n" +
                    "            atom:childType atom:Float ;\n            rdf:value (";
    for (int h = 0; h < NUM_PARTIALS; ++h)
        s += (h % 6 == 0 ? "\n                " : " ") + Quoted(FloatText(spectrum.level[h])) + "^^xsd:float";
    return s + "\n            )\n        ]";
}

} // namespace

std::string PatchName(const std::string& path)
{
    std::string name = path.substr(path.find_last_of('/') + 1);
    const std::string extension = ".mrvn";
    if (name.size() > extension.size() && name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
        name.resize(name.size() - extension.size());
    return name;
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
    PortValue values[kControlCount];
    PortValues(patch, values);
    for (uint32_t c = 0; c < kControlCount; ++c) {
        const ControlPort& port = kControls[c];
        if (values[c].value >= port.minimum && values[c].value <= port.maximum)
            continue;
        std::string value = Number(values[c].value);
        if (written && written->HasValue(values[c].key)) {
            const std::string text = written->GetValue(values[c].key);
            const size_t from = text.find_first_not_of(" \t\n\v\f\r");
            if (from != std::string::npos)
                value = text.substr(from, text.find_last_not_of(" \t\n\v\f\r") - from + 1);
        }
        return std::string("the ") + values[c].key + " value " + value + " is outside the plugin's range " +
               Number(port.minimum) + " to " + Number(port.maximum);
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
    PortValue values[kControlCount];
    PortValues(patch, values);
    std::string s = "\n<" + uri + ">\n    a pset:Preset ;\n    lv2:appliesTo <" + kPluginUri + "> ;\n" +
                    "    rdfs:label " + Quoted(label) + " ;\n    lv2:port ";
    for (uint32_t c = 0; c < kControlCount; ++c)
        s += std::string(c ? " , " : "") + "[\n        lv2:symbol \"" + kControls[c].symbol +
             "\" ;\n        pset:value " + FloatText(values[c].value) + "\n    ]";
    s += " ;\n    state:state [\n        <" + std::string(kStateVersionKey) + "> \"" +
         std::to_string(kStateVersion) + "\"^^xsd:int ;\n" + SpectrumTurtle(kAttackSpectrumKey, patch.attack) +
         " ;\n" + SpectrumTurtle(kSustainSpectrumKey, patch.sustain) + "\n    ] .\n";
    return s;
}

std::string PresetManifestEntry(const std::string& uri, const std::string& file)
{
    return "\n<" + uri + ">\n    a pset:Preset ;\n    lv2:appliesTo <" + kPluginUri + "> ;\n" +
           "    rdfs:seeAlso <" + file + "> .\n";
}

} // namespace marovane_lv2
