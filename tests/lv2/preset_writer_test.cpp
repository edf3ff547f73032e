// The preset writer's Turtle: any name as a literal that a Turtle reader
// takes (sordi, the LV2 libraries' own tool, reads each one), and every
// control port as the engine's parameter table describes it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "lv2/Ports.h"
#include "lv2/PresetWriter.h"
#include "synth/Parameters.h"

namespace {

using namespace marovane_lv2;

// sordi's exit status and its messages for a Turtle document.
std::pair<int, std::string> Sordi(const std::string& turtle)
{
    const std::string path =
        (std::filesystem::temp_directory_path() / ("preset-writer-" + std::to_string(getpid()) + ".ttl")).string();
    std::ofstream(path, std::ios::binary) << turtle;
    FILE* p = popen(("sordi '" + path + "' 2>&1 >/dev/null").c_str(), "r");
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof buf, p))
        out += buf;
    const int status = pclose(p);
    std::filesystem::remove(path);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

TEST(PresetWriter, AnyNameIsAValidTurtleString)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Square Lead", "\"Square Lead\""},
        {"two\nlines", "\"two\\nlines\""},
        {"carriage\rreturn", "\"carriage\\rreturn\""},
        {"tab\tform\fback\b", "\"tab\\tform\\fback\\b\""},
        {"bell\x07 escape\x1b delete\x7f", "\"bell\\u0007 escape\\u001B delete\\u007F\""},
        {"\"quoted\" back\\slash", "\"\\\"quoted\\\" back\\\\slash\""},
        {"caf\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x8e\xb9", "\"caf\xc3\xa9 \xe2\x9c\x93 \xf0\x9f\x8e\xb9\""},
        // Bytes that are not UTF-8 (a Latin-1 name, a sequence cut short, an
        // overlong form, a surrogate, past U+10FFFF) become U+FFFD each.
        {"caf\xe9", "\"caf\xef\xbf\xbd\""},
        {"cut \xe2\x9c", "\"cut \xef\xbf\xbd\xef\xbf\xbd\""},
        {"long \xc0\xaf", "\"long \xef\xbf\xbd\xef\xbf\xbd\""},
        {"half \xed\xa0\x80", "\"half \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
        {"far \xf4\x90\x80\x80", "\"far \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd\""},
    };
    for (const auto& [name, literal] : cases) {
        EXPECT_EQ(TurtleString(name), literal) << name;
        const auto [status, errors] = Sordi(TurtlePrefixes() + PresetTurtle("urn:test#p", name, Patch{}));
        EXPECT_EQ(status, 0) << name << ": " << errors;
        EXPECT_EQ(errors, "") << name;
    }
}

// Each control port: its symbol and its patch value in the preset, its
// ends accepted, and a value past either end refused, naming the patch key
// and the range.
void SetValue(Patch& patch, ParamId id, float value)
{
    switch (id) {
    case ParamId::Attack: patch.attackMs = static_cast<int32_t>(value); break;
    case ParamId::Decay: patch.decayMs = static_cast<int32_t>(value); break;
    case ParamId::Sustain: patch.sustainPercent = static_cast<int32_t>(value); break;
    case ParamId::Release: patch.releaseMs = static_cast<int32_t>(value); break;
    case ParamId::LfoFrequency: patch.lfoFrequency = value; break;
    case ParamId::LfoWaveform: patch.lfoWaveform = static_cast<int32_t>(value); break;
    case ParamId::Volume: patch.volumeDb = value; break;
    }
}

TEST(PresetWriter, PortsFollowTheParameterTable)
{
    for (size_t c = 0; c < kControlCount; ++c) {
        const ParameterInfo& p = kParameters[c];
        SCOPED_TRACE(p.symbol);
        Patch patch;
        SetValue(patch, p.id, p.maximum);
        EXPECT_EQ(PatchOutOfRange(patch), "");
        char value[32];
        std::snprintf(value, sizeof value, "%g.0", static_cast<double>(p.maximum));
        const std::string turtle = PresetTurtle("urn:test#p", "p", patch);
        EXPECT_NE(turtle.find(std::string("lv2:symbol \"") + p.symbol + "\" ;\n        pset:value " + value + "\n"),
                  std::string::npos)
            << turtle;
        SetValue(patch, p.id, p.minimum);
        EXPECT_EQ(PatchOutOfRange(patch), "");
        for (const float beyond : {p.minimum - 1.0f, p.maximum + 1.0f}) {
            SetValue(patch, p.id, beyond);
            char reason[160];
            std::snprintf(reason, sizeof reason, "the %s value %g is outside the plugin's range %g to %g", p.patchKey,
                          static_cast<double>(beyond), static_cast<double>(p.minimum), static_cast<double>(p.maximum));
            EXPECT_EQ(PatchOutOfRange(patch), reason);
        }
    }
}

} // namespace
