// The preset writer's Turtle: any name as a literal that a Turtle reader
// takes (sordi, the LV2 libraries' own tool, reads each one), every control
// port as the engine's parameter table describes it, the mod wheel's value as
// the engine makes it, levels the editor cannot draw refused, and a player's
// preset kept apart from the shipped ones by its label. And the plugin's
// reader of its state text, which holds the levels to the same range.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <cstring>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "PluginState.h"
#include "patch/Patch.h"
#include "preset/PresetWriter.h"
#include "synth/Parameters.h"

namespace {

using namespace marovane_preset;

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
TEST(PresetWriter, PortsFollowTheParameterTable)
{
    for (size_t c = 0; c < kParameterCount; ++c) {
        const ParameterInfo& p = kParameters[c];
        SCOPED_TRACE(p.symbol);
        Patch patch;
        SetPatchParameter(patch, p.id, p.maximum);
        EXPECT_EQ(PatchOutOfRange(patch), "");
        char value[32];
        std::snprintf(value, sizeof value, "%g.0", static_cast<double>(p.maximum));
        const std::string turtle = PresetTurtle("urn:test#p", "p", patch);
        EXPECT_NE(turtle.find(std::string("lv2:symbol \"") + p.symbol + "\" ;\n        pset:value " + value + "\n"),
                  std::string::npos)
            << turtle;
        SetPatchParameter(patch, p.id, p.minimum);
        EXPECT_EQ(PatchOutOfRange(patch), "");
        for (const float beyond : {p.minimum - 1.0f, p.maximum + 1.0f}) {
            SetPatchParameter(patch, p.id, beyond);
            char reason[160];
            std::snprintf(reason, sizeof reason, "the %s value %g is outside the plugin's range %g to %g", p.patchKey,
                          static_cast<double>(beyond), static_cast<double>(p.minimum), static_cast<double>(p.maximum));
            EXPECT_EQ(PatchOutOfRange(patch), reason);
        }
    }
}

// The preset's mod_wheel value is the depth the engine makes of the patch's
// wheel, and the text written reads back (as a host reads a literal, through
// a double) to that very float, for every position of the wheel.
TEST(PresetWriter, ModWheelValueReadsBackAsTheEngineMakesIt)
{
    size_t checked = 0;
    for (int32_t wheel = 0; wheel <= 16383; ++wheel) {
        Patch patch;
        patch.modWheel = wheel;
        const float depth = SynthState::ModWheelDepthFromValue(wheel);
        ASSERT_EQ(ModWheelValue(patch), depth) << wheel;
        const std::string text = FloatText(depth);
        ASSERT_EQ(static_cast<float>(std::strtod(text.c_str(), nullptr)), depth) << wheel << ": " << text;
        ++checked;
    }
    EXPECT_EQ(checked, 16384u);
    Patch patch;
    patch.modWheel = 8192;
    const std::string turtle = PresetTurtle("urn:test#p", "p", patch);
    EXPECT_NE(turtle.find("lv2:symbol \"mod_wheel\" ;\n        pset:value " + FloatText(8192.0f / 16383.0f) + "\n"),
              std::string::npos)
        << turtle;
    for (const int32_t beyond : {-1, 16384}) {
        patch.modWheel = beyond;
        EXPECT_EQ(PatchOutOfRange(patch),
                  "the ModWheel value " + std::to_string(beyond) + " is outside the plugin's range 0 to 16383");
    }
}

// The spectra are written as the plugin's state: its two keys, each an
// atom:String that the plugin's reader takes back bit for bit.
TEST(PresetWriter, SpectraAreThePluginsStateText)
{
    Patch patch;
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        patch.attack.level[h] = 1.0f / static_cast<float>(h + 3);
        patch.sustain.level[h] = h % 2 ? 0.1f : -0.0f;
    }
    const std::string turtle = PresetTurtle("urn:test#p", "p", patch);
    for (const auto& [key, spectrum] : {std::pair{"attack", &patch.attack}, std::pair{"sustain", &patch.sustain}}) {
        const std::string line =
            std::string("<urn:marovane:synth#") + key + "> \"" + marovane_plugin::SpectrumText(*spectrum) + "\"";
        EXPECT_NE(turtle.find(line), std::string::npos) << key << "\n" << turtle;
        HarmonicSpectrum read{};
        ASSERT_TRUE(marovane_plugin::ReadSpectrumText(marovane_plugin::SpectrumText(*spectrum).c_str(), read));
        EXPECT_EQ(std::memcmp(&read, spectrum, sizeof read), 0) << key;
    }
    const auto [status, errors] = Sordi(TurtlePrefixes() + turtle);
    EXPECT_EQ(status, 0) << errors;
}

// A level beyond what the harmonics editor draws (above 1 either way) is
// refused, naming the key, in the preset maker and in the plugin's reader of
// its state; the ends are taken.
TEST(PresetWriter, LevelsOutsideTheEditorsRangeAreRefused)
{
    struct Case {
        bool sustain;
        int harmonic;
        float level;
        const char* reason; // "" when taken
    };
    const Case cases[] = {
        {false, 0, 1.0f, ""},
        {true, 127, -1.0f, ""},
        {false, 3, 0.0f, ""},
        {true, 5, 3.4e38f, "the SustainHarmonic5 level 3.4e+38 is outside the spectrum's range -1 to 1"},
        {false, 127, 1.0000001f, "the AttackHarmonic127 level 1.0000001 is outside the spectrum's range -1 to 1"},
        {false, 0, -2.0f, "the AttackHarmonic0 level -2 is outside the spectrum's range -1 to 1"},
        {true, 0, -3.4e38f, "the SustainHarmonic0 level -3.4e+38 is outside the spectrum's range -1 to 1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.level));
        Patch patch;
        (c.sustain ? patch.sustain : patch.attack).level[c.harmonic] = c.level;
        EXPECT_EQ(PatchOutOfRange(patch), c.reason);
        // The plugin's reader takes the same levels.
        HarmonicSpectrum read{};
        read.level[0] = 0.25f;
        const HarmonicSpectrum before = read;
        const bool taken = marovane_plugin::ReadSpectrumText(
            marovane_plugin::SpectrumText(c.sustain ? patch.sustain : patch.attack).c_str(), read);
        EXPECT_EQ(taken, std::string(c.reason).empty());
        if (!taken) {
            EXPECT_EQ(std::memcmp(&read, &before, sizeof read), 0) << "a refused text changes nothing";
        }
    }
}

// The reader of the state text, with the texts a host, an old session or a
// careless editor may hand it.
TEST(PluginStateText, ReaderTakesExactly128LevelsInRange)
{
    HarmonicSpectrum organ{};
    for (float& l : organ.level)
        l = 0.05f;
    const std::string good = marovane_plugin::SpectrumText(organ);
    std::string withLast = good.substr(0, good.rfind(' ') + 1);
    struct Case {
        const char* what;
        std::string text;
        bool taken;
    };
    const Case cases[] = {
        {"128 levels", good, true},
        {"white space around and between", "  \n" + std::regex_replace(good, std::regex(" "), "\t ") + " \n", true},
        {"127 levels", good.substr(0, good.rfind(' ')), false},
        {"129 levels", good + " 0.05", false},
        {"a NaN", withLast + "nan", false},
        {"an infinity", withLast + "inf", false},
        {"3.4e38", withLast + "3.4e38", false},
        {"1e39, beyond a float", withLast + "1e39", false},
        {"1.5", withLast + "1.5", false},
        {"-1", withLast + "-1", true},
        {"a word", withLast + "loud", false},
        {"a number with a tail", withLast + "0.5x", false},
        {"a comma", withLast + "0,5", false},
        {"empty", "", false},
    };
    for (const Case& c : cases) {
        HarmonicSpectrum read{};
        EXPECT_EQ(marovane_plugin::ReadSpectrumText(c.text.c_str(), read), c.taken) << c.what;
    }
    HarmonicSpectrum read{};
    EXPECT_FALSE(marovane_plugin::ReadSpectrumText(nullptr, read));
}

// A player's preset named as a shipped one is told apart by its label; no two
// names give one label, and none a shipped preset's.
TEST(PresetWriter, OwnPresetLabelsNeverRepeatAShippedOne)
{
    const std::vector<std::string> shipped = {"Bell", "Square Lead"};
    const std::pair<std::string, std::string> cases[] = {
        {"Bell", "Bell (own)"},
        {"Bell (own)", "Bell (own) (own)"},
        {"Bell (own) (own)", "Bell (own) (own) (own)"},
        {"My Bell", "My Bell"},
        {"bell", "bell"},
        {"Square Lead", "Square Lead (own)"},
        {"Pad (own)", "Pad (own)"},
        {" (own)", " (own)"},
    };
    std::set<std::string> labels(shipped.begin(), shipped.end());
    for (const auto& [name, label] : cases) {
        EXPECT_EQ(OwnPresetLabel(name, shipped), label) << name;
        EXPECT_TRUE(labels.insert(OwnPresetLabel(name, shipped)).second) << name << ": a label seen before";
    }
}

} // namespace
