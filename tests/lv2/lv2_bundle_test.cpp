// The bundle as hosts and the LV2 tools see it, the module's link interface,
// and marovane-preset: patches into presets, refused when a value is outside
// a control's range or a level beyond the editor's, and a player's own
// preset played by a host, under a label no shipped preset has.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "lv2/LilvHost.h"
#include "synth/Parameters.h"

namespace {

using namespace lv2host;

std::string BinDir() { return std::getenv("MAROVANE_BIN_DIR"); }
// LV2_PATH as the test was started with it (tests add folders for a while).
std::string LvPath()
{
    static const std::string path = std::getenv("LV2_PATH");
    return path;
}
std::string Bundle() { return LvPath() + "/marovane.lv2"; }

// marovane-preset's options that write a plugin bundle's presets into
// `folder`, which first gets the manifest the framework wrote for the
// plugin (the presets are added to it).
std::string ShippedInto(const std::string& folder)
{
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(Bundle() + "/manifest.ttl", folder + "/manifest.ttl",
                               std::filesystem::copy_options::overwrite_existing);
    return "--shipped '" + folder + "'";
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The command's standard output and error together, and its exit status.
std::pair<std::string, int> Shell(const std::string& command)
{
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    const int status = pclose(p);
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

TEST(Lv2Bundle, ValidatesWithoutErrors)
{
    // lv2_validate exits 0 whatever it finds: its summary line tells.
    const auto [out, status] = Shell("lv2_validate " + Bundle() + "/*.ttl");
    EXPECT_NE(out.find("Found 0 errors"), std::string::npos) << out;
    EXPECT_EQ(out.find("error:"), std::string::npos) << out;
}

TEST(Lv2Bundle, HostsSeeAnInstrumentByMarovaneWithItsFeaturesPortsAndPresets)
{
    // The LV2 vocabulary beside the build tree, for the class's label.
    const auto [out, status] = Shell("LV2_PATH=" + LvPath() + ":/usr/lib/lv2 lv2info urn:marovane:synth");
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Name:              Marovane\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Class:             Instrument Plugin\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Author:            Marovane\n"), std::string::npos) << "the maker:\n" << out;
    // What the framework needs, and nothing else.
    const size_t from = out.find("Required Features:"), to = out.find("Optional Features:");
    ASSERT_TRUE(from != std::string::npos && to != std::string::npos) << out;
    std::set<std::string> required;
    const std::string features = out.substr(from, to - from);
    const std::regex uri(R"(http://\S+)");
    for (std::sregex_iterator i(features.begin(), features.end(), uri), end; i != end; ++i)
        required.insert(i->str());
    EXPECT_EQ(required, (std::set<std::string>{"http://lv2plug.in/ns/ext/urid#map",
                                               "http://lv2plug.in/ns/ext/options#options",
                                               "http://lv2plug.in/ns/ext/worker#schedule"}))
        << features;
    // Every port by its symbol, once.
    std::vector<std::string> symbols = {kOutLeftSymbol, kOutRightSymbol, kEventsInSymbol, kEventsOutSymbol};
    for (const std::string& c : ControlSymbols())
        symbols.push_back(c);
    for (const std::string& symbol : symbols) {
        const std::string line = "Symbol:      " + symbol + "\n";
        const size_t at = out.find(line);
        EXPECT_NE(at, std::string::npos) << symbol << "\n" << out;
        EXPECT_EQ(out.find(line, at + 1), std::string::npos) << symbol << " twice";
    }
    EXPECT_EQ(out.find("Port " + std::to_string(symbols.size()) + ":"), std::string::npos) << out;
    // The shipped presets, each label once.
    const size_t presets = out.find("Presets:");
    ASSERT_NE(presets, std::string::npos) << out;
    for (const char* name : {"Bell", "Brass", "Flute", "Organ", "Pad", "Square Lead"}) {
        const std::string line = std::string(" ") + name + "\n";
        const size_t at = out.find(line, presets);
        EXPECT_NE(at, std::string::npos) << name << "\n" << out;
        EXPECT_EQ(out.find(line, at + 1), std::string::npos) << name << " twice";
    }
}

// The unit a parameter's unit text stands for in the Turtle, or "" for none.
std::string UnitUri(const std::string& unit)
{
    const std::string units = "http://lv2plug.in/ns/extensions/units#";
    if (unit == "ms")
        return units + "ms";
    if (unit == "%")
        return units + "pc";
    if (unit == "Hz")
        return units + "hz";
    if (unit == "dB")
        return units + "db";
    EXPECT_EQ(unit, "") << "a unit the Turtle has no name for";
    return "";
}

// marovane.ttl, as a host reads it, states the parameter table's facts for
// each control port: symbol, name, range, default, whole numbers, unit and
// the names of the choices; a switch (the band limit) is a toggle, without
// choices.
TEST(Lv2Bundle, TurtleStatesTheParameterTable)
{
    World world;
    const LilvPlugin* p = world.Plugin();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(lilv_plugin_get_num_ports(p), 4 + marovane_plugin::kPluginParamCount)
        << "the outputs, the events in and out, and a control port for each parameter";
    uint32_t before = 0;
    LilvWorld* w = world.Get();
    LilvNode* integer = lilv_new_uri(w, LV2_CORE__integer);
    LilvNode* enumeration = lilv_new_uri(w, LV2_CORE__enumeration);
    LilvNode* toggled = lilv_new_uri(w, LV2_CORE__toggled);
    LilvNode* control = lilv_new_uri(w, LV2_CORE__ControlPort);
    LilvNode* input = lilv_new_uri(w, LV2_CORE__InputPort);
    LilvNode* unitPredicate = lilv_new_uri(w, "http://lv2plug.in/ns/extensions/units#unit");
    for (size_t i = 0; i < kParameterCount; ++i) {
        const ParameterInfo& info = kParameters[i];
        SCOPED_TRACE(info.symbol);
        LilvNode* symbol = lilv_new_string(w, info.symbol);
        const LilvPort* port = lilv_plugin_get_port_by_symbol(p, symbol);
        lilv_node_free(symbol);
        ASSERT_NE(port, nullptr) << "no port of this symbol";
        EXPECT_GT(lilv_port_get_index(p, port), before) << "ports in the table's order";
        before = lilv_port_get_index(p, port);
        EXPECT_TRUE(lilv_port_is_a(p, port, control) && lilv_port_is_a(p, port, input));

        LilvNode* name = lilv_port_get_name(p, port);
        ASSERT_NE(name, nullptr);
        EXPECT_STREQ(lilv_node_as_string(name), info.label);
        lilv_node_free(name);

        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(p, port, &def, &min, &max);
        ASSERT_TRUE(def && min && max);
        EXPECT_EQ(lilv_node_as_float(def), info.defaultValue);
        EXPECT_EQ(lilv_node_as_float(min), info.minimum);
        EXPECT_EQ(lilv_node_as_float(max), info.maximum);
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);

        const bool toggle = IsSwitch(info);
        EXPECT_EQ(lilv_port_has_property(p, port, integer), info.integer);
        EXPECT_EQ(lilv_port_has_property(p, port, toggled), toggle);
        EXPECT_EQ(lilv_port_has_property(p, port, enumeration), info.choices != nullptr && !toggle);

        LilvNodes* units = lilv_port_get_value(p, port, unitPredicate);
        const std::string expected = UnitUri(info.unit);
        if (expected.empty()) {
            EXPECT_EQ(units, nullptr) << "a choice has no unit";
        } else {
            ASSERT_NE(units, nullptr) << "no unit";
            ASSERT_EQ(lilv_nodes_size(units), 1u);
            EXPECT_EQ(lilv_node_as_uri(lilv_nodes_get_first(units)), expected);
        }
        lilv_nodes_free(units);

        std::map<float, std::string> points;
        LilvScalePoints* scale = lilv_port_get_scale_points(p, port);
        LILV_FOREACH (scale_points, j, scale) {
            const LilvScalePoint* sp = lilv_scale_points_get(scale, j);
            points[lilv_node_as_float(lilv_scale_point_get_value(sp))] =
                lilv_node_as_string(lilv_scale_point_get_label(sp));
        }
        lilv_scale_points_free(scale);
        const size_t choices = toggle ? 0 : info.choiceCount;
        ASSERT_EQ(points.size(), choices);
        for (size_t c = 0; c < choices; ++c)
            EXPECT_EQ(points[info.minimum + static_cast<float>(c)], info.choices[c]) << "choice " << c;
    }
    lilv_node_free(unitPredicate);
    lilv_node_free(input);
    lilv_node_free(control);
    lilv_node_free(toggled);
    lilv_node_free(enumeration);
    lilv_node_free(integer);
}

TEST(Lv2Bundle, ModulesExportOnlyTheirDescriptorsAndLinkNoWindowOrDeviceLibrary)
{
    struct Module {
        const char* file;
        const char* exports; // the dynamic symbols it defines, nm's lines
        std::vector<std::string> allowed; // besides the C and C++ runtime
    };
    const Module modules[] = {
        // The sound: the descriptor, and the framework's Turtle generator,
        // which the build runs on it; the core's patch reader brings expat.
        {"marovane_dsp.so", "([0-9a-f]+ T (lv2_descriptor|lv2_generate_ttl)\n){2}", {"libexpat"}},
        // The editor draws with Cairo on X11.
        {"marovane_ui.so", "([0-9a-f]+ T (lv2ui_descriptor)\n)+", {"libX11", "libXext", "libcairo", "libexpat"}},
    };
    for (const Module& m : modules) {
        SCOPED_TRACE(m.file);
        const std::string module = Bundle() + "/" + m.file;
        auto [symbols, status] = Shell("nm -D --defined-only " + module);
        ASSERT_EQ(status, 0) << symbols;
        EXPECT_TRUE(std::regex_match(symbols, std::regex(m.exports))) << symbols;

        const auto [dynamic, readelf] = Shell("readelf -d " + module);
        ASSERT_EQ(readelf, 0) << dynamic;
        std::vector<std::string> needed;
        const std::regex line(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
        for (std::sregex_iterator i(dynamic.begin(), dynamic.end(), line), end; i != end; ++i)
            needed.push_back((*i)[1]);
        ASSERT_FALSE(needed.empty());
        std::string names = "libstdc\\+\\+|libm|libgcc_s|libc|ld-linux-x86-64";
        for (const std::string& a : m.allowed)
            names += "|" + a;
        const std::regex allowed("(" + names + ")\\.so\\.\\d+");
        for (const std::string& lib : needed)
            EXPECT_TRUE(std::regex_match(lib, allowed)) << lib;
        // Nor through another library.
        const auto [ldd, lddStatus] = Shell("ldd " + module);
        ASSERT_EQ(lddStatus, 0) << ldd;
        for (const char* banned : {"wx_", "portaudio", "rtmidi", "jack", "sndfile", "not found"})
            EXPECT_EQ(ldd.find(banned), std::string::npos) << banned << "\n" << ldd;
    }
}

// A patch file with a few keys (the others read as 0).
void WritePatch(const std::string& path, const std::string& keys)
{
    std::ofstream(path) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings>" << keys << "</Settings>\n";
}

TEST(Lv2Presets, ValueOutsideAControlsRangeIsRefusedNamingThePatch)
{
    const std::string dir = Temp("lv2_refused");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    struct Case {
        const char* keys;
        const char* reason;
    };
    const Case cases[] = {
        {"<Attack Attack=\"1001\"/>", "the Attack value 1001 is outside the plugin's range 0 to 1000"},
        {"<Release Release=\"-1\"/>", "the Release value -1 is outside"},
        {"<Sustain Sustain=\"101\"/>", "the Sustain value 101 is outside the plugin's range 0 to 100"},
        {"<LFOFrequency LFOFrequency=\"20.5\"/>", "the LFOFrequency value 20.5 is outside the plugin's range 0 to 20"},
        {"<LFOWaveform LFOWaveform=\"7\"/>", "the LFOWaveform value 7 is outside the plugin's range 0 to 6"},
        {"<Decay Decay=\"5\"/><SustainHarmonic3 SustainHarmonic3=\"nan\"/>", "is not a finite number"},
        // The reader holds a sustain within 1000 percent; the value named is
        // the one the file holds.
        {"<Sustain Sustain=\"99999999999\"/>", "the Sustain value 99999999999 is outside the plugin's range 0 to 100"},
        {"<Sustain Sustain=\" -5000 \"/>", "the Sustain value -5000 is outside the plugin's range 0 to 100"},
        {"<Attack Attack=\"fast\"/>", "the value \"fast\" of Attack is not a whole number"},
        // Finite, but beyond what the harmonics editor draws.
        {"<SustainHarmonic5 SustainHarmonic5=\"3.4e38\"/>",
         "the SustainHarmonic5 level 3.4e+38 is outside the spectrum's range -1 to 1"},
        {"<AttackHarmonic0 AttackHarmonic0=\"-1.5\"/>",
         "the AttackHarmonic0 level -1.5 is outside the spectrum's range -1 to 1"},
        {"<ModWheel ModWheel=\"20000\"/>", "the ModWheel value 20000 is outside the plugin's range 0 to 16383"},
        {"<LFOWaveform LFOWaveform=\"2.5\"/>", "the value \"2.5\" of LFOWaveform is not a whole number"},
    };
    for (const Case& c : cases) {
        const std::string patch = dir + "/Too Far.mrvn";
        WritePatch(patch, c.keys);
        for (const std::string& mode : {ShippedInto(dir), "-d " + dir}) {
            const auto [out, status] = Shell(BinDir() + "/marovane-preset " + mode + " '" + patch + "'");
            EXPECT_EQ(status, 1) << c.keys << " " << mode;
            EXPECT_NE(out.find("'" + patch + "'"), std::string::npos) << out;
            EXPECT_NE(out.find(c.reason), std::string::npos) << out;
        }
        EXPECT_FALSE(std::filesystem::exists(dir + "/presets.ttl"));
        EXPECT_FALSE(std::filesystem::exists(dir + "/marovane-Too-Far.lv2/preset.ttl"));
    }
    // Its ends are inside.
    WritePatch(dir + "/Ends.mrvn", "<Attack Attack=\"1000\"/><Sustain Sustain=\"0\"/><LFOFrequency LFOFrequency=\"20\"/>"
                                   "<LFOWaveform LFOWaveform=\"6\"/><ModWheel ModWheel=\"16383\"/>"
                                   "<AttackHarmonic0 AttackHarmonic0=\"1\"/><SustainHarmonic127 SustainHarmonic127=\"-1\"/>");
    EXPECT_EQ(Shell(BinDir() + "/marovane-preset -d " + dir + " " + dir + "/Ends.mrvn").second, 0);
    std::filesystem::remove_all(dir);
}

// A patch's name is any file name: every byte but '/' and NUL. Whatever it
// holds, the Turtle written is valid (sordi reads every file of the bundle
// without an error) and a host shows the name as it is.
TEST(Lv2Presets, AnyFileNameGivesValidTurtle)
{
    const std::string dir = Temp("lv2_names");
    struct Case {
        std::string name;  // of the patch file, without ".mrvn"
        std::string label; // as a host reads it
    };
    const Case cases[] = {
        {"two\nlines", "two\nlines"},
        {"carriage\rreturn", "carriage\rreturn"},
        {"tab\tand\fform\bfeed", "tab\tand\fform\bfeed"},
        {"bell\x07 and escape\x1b and delete\x7f", "bell\x07 and escape\x1b and delete\x7f"},
        {"\"quoted\" and back\\slash", "\"quoted\" and back\\slash"},
        {"three \"\"\" quotes", "three \"\"\" quotes"},
        {"caf\xc3\xa9 \xe2\x9c\x93", "caf\xc3\xa9 \xe2\x9c\x93"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir + "/in");
        std::ifstream bell(std::string(std::getenv("MAROVANE_SOURCE_DIR")) + "/resources/patches/Bell.mrvn");
        std::ofstream(dir + "/in/" + c.name + ".mrvn") << bell.rdbuf();
        // The shell's pattern passes the name as it is.
        for (const std::string into : {"own", "shipped"}) {
            const std::string folder = dir + "/" + into;
            std::filesystem::create_directories(folder);
            const std::string mode = into == "own" ? "-d " + folder : ShippedInto(folder);
            const auto [out, status] = Shell(BinDir() + "/marovane-preset " + mode + " " + dir + "/in/*.mrvn");
            ASSERT_EQ(status, 0) << mode << ": " << out;
            int files = 0;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
                if (entry.path().extension() != ".ttl")
                    continue;
                ++files;
                const auto [errors, read] = Shell("sordi '" + entry.path().string() + "' >/dev/null");
                EXPECT_EQ(read, 0) << entry.path() << ": " << errors;
                EXPECT_EQ(errors, "") << entry.path();
            }
            EXPECT_EQ(files, 2) << mode;
        }
        // The host's view of the player's preset.
        setenv("LV2_PATH", (LvPath() + ":" + dir + "/own").c_str(), 1);
        World world;
        const auto presets = world.Presets();
        setenv("LV2_PATH", LvPath().c_str(), 1);
        bool found = false;
        for (const auto& [uri, label] : presets)
            if (uri.rfind("urn:marovane:user#preset-", 0) == 0) {
                EXPECT_EQ(label, c.label);
                found = true;
            }
        EXPECT_TRUE(found);
    }
    std::filesystem::remove_all(dir);
}

// Names that differ only where the preset's URI cannot tell them apart
// ("a b" and "a-b" are both #preset-a-b) would share a bundle or a URI: the
// second is refused with a message, and the first is kept, in one run or
// in two. The same name again replaces its own bundle.
TEST(Lv2Presets, TwoNamesOfOneUriAreNotBothWritten)
{
    const std::string dir = Temp("lv2_clash");
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir + "/out");
    for (const char* name : {"dash name", "dash-name", "dash%2Dname"})
        WritePatch(dir + "/" + name + ".mrvn", "<Attack Attack=\"5\"/>");
    const std::string tool = BinDir() + "/marovane-preset ";
    const std::string bundle = dir + "/out/marovane-dash-name.lv2/preset.ttl";
    auto label = [&] {
        std::ifstream in(bundle);
        std::stringstream text;
        text << in.rdbuf();
        std::smatch m;
        const std::string t = text.str();
        return std::regex_search(t, m, std::regex("rdfs:label \"([^\"]*)\"")) ? m[1].str() : std::string("(none)");
    };
    struct Step {
        std::string args;
        int status;
        std::string says; // in the output
        const char* label; // of the bundle's preset afterwards
    };
    const Step steps[] = {
        {"-d " + dir + "/out '" + dir + "/dash name.mrvn' '" + dir + "/dash-name.mrvn'", 1,
         "'" + dir + "/dash-name.mrvn': it would be the same preset as '" + dir + "/dash name.mrvn'", "dash name"},
        {"-d " + dir + "/out '" + dir + "/dash-name.mrvn'", 1, "holds the preset \"dash name\"", "dash name"},
        {"-d " + dir + "/out '" + dir + "/dash name.mrvn'", 0, "the preset \"dash name\"", "dash name"},
        {ShippedInto(dir + "/out") + " '" + dir + "/dash-name.mrvn' '" + dir + "/dash name.mrvn'",
         1, "'" + dir + "/dash name.mrvn': it would be the same preset as '" + dir + "/dash-name.mrvn'", "dash name"},
    };
    for (const Step& step : steps) {
        const auto [out, status] = Shell(tool + step.args);
        EXPECT_EQ(status, step.status) << step.args << ": " << out;
        EXPECT_NE(out.find(step.says), std::string::npos) << step.args << ": " << out;
        EXPECT_EQ(label(), step.label) << step.args;
    }
    EXPECT_FALSE(std::filesystem::exists(dir + "/out/presets.ttl")) << "a refused --shipped run writes nothing";
    // A percent sign is encoded, so "dash%2Dname" has a URI of its own.
    const auto [out, status] = Shell(tool + "-d " + dir + "/out '" + dir + "/dash%2Dname.mrvn'");
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(std::filesystem::exists(dir + "/out/marovane-dash%252Dname.lv2/preset.ttl")) << out;
    std::filesystem::remove_all(dir);
}

// An option given an empty value is a mistake, not the option left out: the
// usage error, and nothing written (-d "" is not ~/.lv2).
TEST(Lv2Presets, EmptyOptionValueIsAUsageError)
{
    const std::string home = Temp("lv2_empty");
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    WritePatch(home + "/Mine.mrvn", "<Attack Attack=\"5\"/>");
    const std::pair<std::string, std::string> cases[] = {
        {"-d ''", "-d, --dir needs a value"},
        {"--dir=", "-d, --dir needs a value"},
        {"--shipped ''", "--shipped needs a value"},
        {"--shipped=", "--shipped needs a value"},
        {"--shipped " + home + " -d " + home, "--shipped and -d, --dir do not go together"},
        {"--manifest-head " + home, "unknown option --manifest-head"},
    };
    for (const auto& [args, says] : cases) {
        const auto [out, status] =
            Shell("cd " + home + " && HOME=" + home + " " + BinDir() + "/marovane-preset " + args + " Mine.mrvn");
        EXPECT_EQ(status, 2) << args << ": " << out;
        EXPECT_NE(out.find(says), std::string::npos) << args << ": " << out;
        EXPECT_FALSE(std::filesystem::exists(home + "/.lv2")) << args;
        EXPECT_FALSE(std::filesystem::exists(home + "/presets.ttl")) << args;
        EXPECT_FALSE(std::filesystem::exists(home + "/marovane-Mine.lv2")) << args;
    }
    std::filesystem::remove_all(home);
}

// A path is bytes: a patch in a folder whose name is not UTF-8 (Latin-1
// "café") becomes a preset like any other.
TEST(Lv2Presets, APatchInAFolderNamedInLatin1BecomesAPreset)
{
    const std::string home = Temp("lv2_latin1");
    std::filesystem::remove_all(home);
    const std::string folder = home + "/caf\xe9";
    std::filesystem::create_directories(folder);
    WritePatch(folder + "/Soft.mrvn", "<Attack Attack=\"250\"/><Sustain Sustain=\"60\"/>"
                                      "<SustainHarmonic0 SustainHarmonic0=\"0.5\"/>");
    const auto [out, status] = Shell(BinDir() + "/marovane-preset -d '" + home + "/lv2' '" + folder + "/Soft.mrvn'");
    ASSERT_EQ(status, 0) << out;
    std::ifstream preset(home + "/lv2/marovane-Soft.lv2/preset.ttl");
    const std::string turtle((std::istreambuf_iterator<char>(preset)), {});
    EXPECT_NE(turtle.find("lv2:symbol \"attack\" ;\n        pset:value 250"), std::string::npos) << turtle;
    EXPECT_NE(turtle.find("lv2:symbol \"sustain\" ;\n        pset:value 60"), std::string::npos) << turtle;
    std::filesystem::remove_all(home);
}

TEST(Lv2Presets, PlayersOwnPatchBecomesAPresetInHomeLv2)
{
    const std::string home = Temp("lv2_home");
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    const std::string patch = home + "/My Pad (soft).mrvn";
    std::ifstream pad(std::string(std::getenv("MAROVANE_SOURCE_DIR")) + "/resources/patches/Pad.mrvn");
    std::stringstream text;
    text << pad.rdbuf();
    // Pad with another attack and a third partial of its own.
    std::string mine = std::regex_replace(text.str(), std::regex("Attack=\"600\""), "Attack=\"250\"");
    mine = std::regex_replace(mine, std::regex("AttackHarmonic2=\"[^\"]*\""), "AttackHarmonic2=\"0.123456789\"");
    std::ofstream(patch) << mine;

    auto [out, status] = Shell("HOME=" + home + " " + BinDir() + "/marovane-preset '" + patch + "'");
    ASSERT_EQ(status, 0) << out;
    const std::string bundle = home + "/.lv2/marovane-My-Pad-%28soft%29.lv2";
    EXPECT_TRUE(std::filesystem::exists(bundle + "/manifest.ttl")) << out;
    EXPECT_NE(out.find(bundle), std::string::npos) << out;
    // Again: the bundle is replaced, not doubled.
    ASSERT_EQ(Shell("HOME=" + home + " " + BinDir() + "/marovane-preset '" + patch + "'").second, 0);

    setenv("LV2_PATH", (LvPath() + ":" + home + "/.lv2").c_str(), 1);
    World world;
    const auto presets = world.Presets();
    const std::string uri = "urn:marovane:user#preset-My-Pad-%28soft%29";
    ASSERT_EQ(presets.count(uri), 1u);
    EXPECT_EQ(presets.at(uri), "My Pad (soft)");
    EXPECT_EQ(presets.size(), 7u) << "the six shipped ones and this";

    // The host plays it as marovane-render plays the patch.
    const std::string wav = home + "/own.wav";
    // The preset holds Pad's mod wheel, 3000; the render tool takes it as an
    // option.
    ASSERT_EQ(Shell(BinDir() + "/marovane-render --patch '" + patch + "' --mod-wheel 3000 --hold 0.5 --velocity 100 -o " +
                    wav + " 57 64")
                  .second,
              0);
    SF_INFO info{};
    SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> expected(static_cast<size_t>(info.frames) * 2);
    sf_readf_float(f, expected.data(), info.frames);
    sf_close(f);
    Instance plugin(world, 44100);
    ASSERT_TRUE(plugin.ApplyPreset(uri));
    // --hold 0.5 holds whole buffers: 87 of them.
    const uint64_t release = 87 * 256;
    const std::vector<Midi> notes = {{0, {0x90, 57, 100}}, {0, {0x90, 64, 100}},
                                     {release, {0x80, 57, 0}}, {release, {0x80, 64, 0}}};
    const Stereo got = plugin.Play(notes, static_cast<uint64_t>(info.frames), 256);
    std::vector<float> left;
    for (size_t i = 0; i < expected.size(); i += 2)
        left.push_back(expected[i]);
    EXPECT_TRUE(got.left == left);
    std::filesystem::remove_all(home);
}

// The presets are added to the manifest the framework wrote, which keeps
// what it says of the plugin and its editor; a second run replaces the
// presets' part instead of adding it again.
TEST(Lv2Presets, ShippedPresetsJoinTheFrameworksManifest)
{
    const std::string framework = ReadFile(Bundle() + "/manifest.ttl");
    const std::string mark = "# The presets, from the shipped patches";
    const size_t at = framework.find(mark);
    ASSERT_NE(at, std::string::npos) << framework;
    const std::string plugin = framework.substr(0, at);
    for (const char* said : {"<urn:marovane:synth>", "lv2:binary <marovane_dsp.so>", "ui:binary <marovane_ui.so>"})
        EXPECT_NE(plugin.find(said), std::string::npos) << said << "\n" << plugin;
    EXPECT_EQ(plugin.find("pset:Preset"), std::string::npos);

    const std::string dir = Temp("lv2_manifest");
    std::filesystem::remove_all(dir);
    const std::string patches = std::string(std::getenv("MAROVANE_SOURCE_DIR")) + "/resources/patches/";
    const std::string mode = ShippedInto(dir);
    for (int run = 0; run < 2; ++run) {
        const auto [out, status] = Shell(BinDir() + "/marovane-preset " + mode + " '" + patches + "Bell.mrvn' '" +
                                         patches + "Square Lead.mrvn'");
        ASSERT_EQ(status, 0) << out;
    }
    const std::string manifest = ReadFile(dir + "/manifest.ttl");
    EXPECT_EQ(manifest.substr(0, plugin.size()), plugin);
    size_t entries = 0;
    for (size_t i = manifest.find("a pset:Preset"); i != std::string::npos; i = manifest.find("a pset:Preset", i + 1))
        ++entries;
    EXPECT_EQ(entries, 2u) << manifest;
    const auto [errors, read] = Shell("sordi '" + dir + "/manifest.ttl' >/dev/null");
    EXPECT_EQ(read, 0) << errors;
    EXPECT_EQ(errors, "");
    std::filesystem::remove_all(dir);
}

// A player's patch named as a shipped one ("Bell") becomes "Bell (own)": a
// host lists every preset under a label of its own, and plays the player's.
TEST(Lv2Presets, APlayersPresetNamedAsAShippedOneHasALabelOfItsOwn)
{
    const std::string home = Temp("lv2_same_name");
    std::filesystem::remove_all(home);
    std::filesystem::create_directories(home);
    std::ifstream bell(std::string(std::getenv("MAROVANE_SOURCE_DIR")) + "/resources/patches/Bell.mrvn");
    std::stringstream text;
    text << bell.rdbuf();
    std::ofstream(home + "/Bell.mrvn") << std::regex_replace(text.str(), std::regex("Attack=\"1\""), "Attack=\"300\"");
    std::ofstream(home + "/Bell (own).mrvn") << text.str();
    const auto [out, status] =
        Shell(BinDir() + "/marovane-preset -d '" + home + "/lv2' '" + home + "/Bell.mrvn' '" + home + "/Bell (own).mrvn'");
    ASSERT_EQ(status, 0) << out;
    EXPECT_NE(out.find("the preset \"Bell (own)\""), std::string::npos) << out;

    setenv("LV2_PATH", (LvPath() + ":" + home + "/lv2").c_str(), 1);
    World world;
    const auto presets = world.Presets();
    setenv("LV2_PATH", LvPath().c_str(), 1);
    std::multiset<std::string> labels;
    for (const auto& [uri, label] : presets)
        labels.insert(label);
    EXPECT_EQ(labels.size(), 8u);
    for (const std::string& label : labels)
        EXPECT_EQ(labels.count(label), 1u) << "the label " << label << " is listed twice";
    ASSERT_EQ(presets.count("urn:marovane:user#preset-Bell"), 1u);
    EXPECT_EQ(presets.at("urn:marovane:user#preset-Bell"), "Bell (own)");
    EXPECT_EQ(presets.at("urn:marovane:user#preset-Bell-%28own%29"), "Bell (own) (own)");
    EXPECT_EQ(presets.at("urn:marovane:synth#preset-Bell"), "Bell");
    std::filesystem::remove_all(home);
}

} // namespace
