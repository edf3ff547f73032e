// Settings documents and patch reading, from small XML fixtures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "patch/Patch.h"
#include "patch/SettingsFile.h"
#include "synth/OutputGuard.h"
#include "support/EngineTestAccess.h"

namespace {

// The patch files the program ships, by path.
std::set<std::string> ShippedPatchFiles()
{
    std::set<std::string> files;
    const char* source = std::getenv("MAROVANE_SOURCE_DIR");
    std::error_code error; // no folder: no files, and the caller's check fails
    for (const auto& e : std::filesystem::directory_iterator(std::string(source ? source : "") + "/resources/patches",
                                                             error))
        if (e.path().extension() == ".mrvn")
            files.insert(e.path().string());
    return files;
}

class PatchFiles : public ::testing::Test {
protected:
    std::string path = ::testing::TempDir() + "marovane_patch_test.mrvn";

    void TearDown() override { std::remove(path.c_str()); }

    // Loads a document from text; returns whether the reader accepted it.
    bool Load(SettingsFile& doc, const std::string& xml)
    {
        std::ofstream(path) << xml;
        return doc.LoadFile(path);
    }
};

TEST_F(PatchFiles, GetValueFindsTheFirstElementCarryingTheAttribute)
{
    struct Case {
        const char* xml;
        const char* key;
        const char* value;
    } cases[] = {
        {"<Settings><Attack Attack=\"250\"/></Settings>", "Attack", "250"},
        {"<Settings><Attack>250</Attack></Settings>", "Attack", ""},
        {"<Settings><Attack Decay=\"5\" Attack=\"7\"/></Settings>", "Attack", "7"},
        {"<Settings><Attack Decay=\"5\" Attack=\"7\"/></Settings>", "Decay", ""},
        {"<Settings><Attack/><Attack Attack=\"3\"/></Settings>", "Attack", "3"},
        {"<Settings><Attack Attack=\"1\"/><Attack Attack=\"2\"/></Settings>", "Attack", "1"},
        {"<Other><Sustain Sustain=\"80\"/></Other>", "Sustain", "80"},
        {"<Settings><attack attack=\"4\"/></Settings>", "Attack", ""},
        {"<Settings><Group><Attack Attack=\"4\"/></Group></Settings>", "Attack", ""},
        {"<Settings><Attack Attack=", "Attack", ""},
    };
    for (const Case& c : cases) {
        SettingsFile doc;
        Load(doc, std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + c.xml);
        EXPECT_EQ(doc.GetValue(c.key), c.value) << c.xml << " / " << c.key;
    }
    SettingsFile empty;
    EXPECT_EQ(empty.RootName(), "Settings");
    EXPECT_EQ(empty.GetValue("Attack"), "");
}

TEST(PatchNumbers, ReadLikeAtoiAndAtof)
{
    const std::pair<const char*, int32_t> ints[] = {
        {"250", 250}, {" 250", 250}, {"12abc", 12}, {"abc", 0}, {"", 0}, {"-7", -7},
        {"+8", 8}, {"3.9", 3}, {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN},
    };
    for (auto [text, v] : ints)
        EXPECT_EQ(ParsePatchInt(text), v) << text;
    const std::pair<const char*, float> floats[] = {
        {"2.5", 2.5f}, {" 0.25", 0.25f}, {"1e-2", 0.01f}, {"7x", 7.0f}, {"x7", 0.0f}, {"", 0.0f}, {"-.5", -0.5f},
    };
    for (auto [text, v] : floats)
        EXPECT_EQ(ParsePatchFloat(text), v) << text;
}

TEST_F(PatchFiles, ReadsEveryKeyIntoTheSynthesisState)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings>\n"
                      "<Attack Attack=\"120\"/><Decay Decay=\"300\"/><Sustain Sustain=\"80\"/>"
                      "<Release Release=\"450\"/><LFOFrequency LFOFrequency=\"2.5\"/>"
                      "<LFOWaveform LFOWaveform=\"3\"/><ModWheel ModWheel=\"8000\"/>\n";
    for (int h = 0; h < 128; ++h)
        xml += "<AttackHarmonic" + std::to_string(h) + " AttackHarmonic" + std::to_string(h) + "=\"" +
               std::to_string(1.0 / (h + 1)) + "\"/><SustainHarmonic" + std::to_string(h) + " SustainHarmonic" +
               std::to_string(h) + "=\"" + (h % 2 ? "0" : "0.125") + "\"/>\n";
    xml += "</Settings>\n";
    SettingsFile doc;
    ASSERT_TRUE(Load(doc, xml));
    const Patch p = ReadPatch(doc);
    auto s = std::make_unique<SynthState>();
    s->SetModWheelDepth(0.3f);
    ApplyPatch(p, *s);
    EXPECT_EQ(s->attackMs, 120);
    EXPECT_EQ(s->decayMs, 300);
    EXPECT_EQ(s->sustainPercent, 80);
    EXPECT_EQ(s->releaseMs, 450);
    EXPECT_EQ(s->lfoFrequency, 2.5f);
    EXPECT_EQ(s->LfoWaveform(), 3);
    EXPECT_EQ(p.modWheel, 8000);
    EXPECT_EQ(s->modWheelDepth, 0.3f); // the mod wheel moves its slider, not the depth
    for (int h = 0; h < 128; ++h) {
        EXPECT_NEAR(s->AttackLevel(h), 1.0 / (h + 1), 1e-6); // six decimals in the file
        EXPECT_EQ(s->SustainLevel(h), h % 2 ? 0.0f : 0.125f);
    }
}

TEST_F(PatchFiles, MissingKeysJunkAndBrokenFilesReadAsZero)
{
    struct Case {
        const char* name;
        const char* xml;
        bool loads;
        int32_t attack, sustain, waveform;
        float lfo, harmonic0;
    } cases[] = {
        {"only sustain", "<Settings><Sustain Sustain=\"80\"/></Settings>", true, 0, 80, 0, 0.0f, 0.0f},
        {"junk numbers",
         "<Settings><Attack Attack=\" 250\"/><Sustain Sustain=\"12abc\"/><LFOFrequency LFOFrequency=\"abc\"/>"
         "<AttackHarmonic0 AttackHarmonic0=\"1.0\"/></Settings>",
         true, 250, 12, 0, 0.0f, 1.0f},
        {"shape above range", "<Settings><LFOWaveform LFOWaveform=\"9\"/></Settings>", true, 0, 0, 6, 0.0f, 0.0f},
        {"shape below range", "<Settings><LFOWaveform LFOWaveform=\"-2\"/></Settings>", true, 0, 0, 0, 0.0f, 0.0f},
        {"other root", "<Patch><Attack Attack=\"5\"/></Patch>", true, 5, 0, 0, 0.0f, 0.0f},
        {"malformed", "<Settings><Attack Attack=\"5\"></Settings>", false, 0, 0, 0, 0.0f, 0.0f},
        {"not xml", "Attack=5", false, 0, 0, 0, 0.0f, 0.0f},
    };
    for (const Case& c : cases) {
        SettingsFile doc;
        EXPECT_EQ(Load(doc, c.xml), c.loads) << c.name;
        auto s = std::make_unique<SynthState>();
        ApplyPatch(ReadPatch(doc), *s);
        EXPECT_EQ(s->attackMs, c.attack) << c.name;
        EXPECT_EQ(s->decayMs, 0) << c.name;
        EXPECT_EQ(s->releaseMs, 0) << c.name;
        EXPECT_EQ(s->sustainPercent, c.sustain) << c.name;
        EXPECT_EQ(s->LfoWaveform(), c.waveform) << c.name;
        EXPECT_EQ(s->lfoFrequency, c.lfo) << c.name;
        EXPECT_EQ(s->AttackLevel(0), c.harmonic0) << c.name;
        EXPECT_EQ(s->SustainLevel(0), 0.0f) << c.name;
    }
    SettingsFile missing;
    EXPECT_FALSE(missing.LoadFile("/nonexistent/none.mrvn"));
    EXPECT_EQ(missing.GetValue("Attack"), "");
}

TEST(ShippedPatches, EveryPatchLoadsAndPlays)
{
    const std::set<std::string> files = ShippedPatchFiles();
    ASSERT_GT(files.size(), 0u);
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        SettingsFile doc;
        ASSERT_TRUE(doc.LoadFile(file));
        const Patch p = ReadPatch(doc);
        // A complete patch: all 265 keys are there but Volume and BandLimit,
        // which a patch at 0 dB without the band limit leaves out.
        for (const std::string& key : PatchKeys())
            EXPECT_EQ(doc.HasValue(key), key != "Volume" && key != "BandLimit") << key;
        EXPECT_EQ(p.volumeDb, 0.0f);
        EXPECT_EQ(p.bandLimit, 0);
        // Every value where the window's controls can show it and set it
        // again: the envelope sliders run to 1000 ms and 100 %, the LFO to
        // 20 Hz, the wheel to 16383.
        const std::tuple<const char*, double, double> ranges[] = {
            {"Attack", p.attackMs, 1000},       {"Decay", p.decayMs, 1000},        {"Sustain", p.sustainPercent, 100},
            {"Release", p.releaseMs, 1000},     {"LFOFrequency", p.lfoFrequency, 20}, {"LFOWaveform", p.lfoWaveform, 6},
            {"ModWheel", p.modWheel, 16383},
        };
        for (const auto& [key, value, top] : ranges) {
            EXPECT_GE(value, 0) << key;
            EXPECT_LE(value, top) << key;
        }
        auto s = std::make_unique<SynthState>();
        ApplyPatch(p, *s);
        for (int note : {36, 60, 64, 67, 96})
            s->StartNote(note);
        float out[2 * MAX_FRAMES];
        float peak = 0;
        for (int b = 0; b < 172; ++b) {
            SynthStateTestAccess::RenderBuffer(*s, out, MAX_FRAMES);
            for (float v : out)
                ASSERT_TRUE(std::isfinite(v));
            peak = std::max(peak, s->LeftPeak());
        }
        EXPECT_GT(peak, 0.05f);
        EXPECT_LT(peak, 5.0f);
        for (int note : {36, 60, 64, 67, 96})
            s->ReleaseNote(note);
        const int tail = (p.releaseMs * 44 / 256) + 2;
        for (int b = 0; b < tail; ++b)
            SynthStateTestAccess::RenderBuffer(*s, out, MAX_FRAMES);
        EXPECT_FALSE(s->AnyNoteActive());
    }
}


std::string Entry(const std::string& key, const std::string& value)
{
    return "<" + key + " " + key + "=\"" + value + "\"/>";
}

const char* const kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// A file's text is no patch in many ways; each is refused with its reason and
// leaves the patch that was there alone. Files near the limits still load.
TEST_F(PatchFiles, RefusesWhatCannotBeAPatchAndSaysWhy)
{
    std::string deep; // about 140,000 nested elements in 980 KB
    for (int i = 0; i < 140000; ++i)
        deep += "<a>";
    for (int i = 0; i < 140000; ++i)
        deep += "</a>";
    std::string nested64, nested65;
    for (int i = 0; i < 63; ++i)
        nested64 += "<a>";
    nested65 = nested64 + "<a></a>";
    for (int i = 0; i < 63; ++i) {
        nested64 += "</a>";
        nested65 += "</a>";
    }
    const std::string sustainOnly = Entry("Sustain", "80");
    auto padded = [&](size_t total) {
        const std::string head = std::string(kDeclaration) + "<Settings>" + sustainOnly, tail = "</Settings>";
        return head + std::string(total - head.size() - tail.size(), ' ') + tail;
    };
    struct Case {
        const char* name;
        std::string text;
        const char* reason; // nullptr: loads
    } cases[] = {
        {"deep nesting", kDeclaration + deep, "nested deeper than 64 levels"},
        {"nesting one too deep", std::string(kDeclaration) + "<Settings>" + sustainOnly + nested65 + "</Settings>",
         "nested deeper than 64 levels"},
        {"nesting at the limit", std::string(kDeclaration) + "<Settings>" + sustainOnly + nested64 + "</Settings>",
         nullptr},
        {"over 1 MB", padded(1024 * 1024 + 1), "larger than 1 MB"},
        {"1 MB exactly", padded(1024 * 1024), nullptr},
        {"entities", std::string(kDeclaration) + "<!DOCTYPE Settings [<!ENTITY a \"aaaa\"><!ENTITY b \"&a;&a;\">]>"
                                                 "<Settings><Sustain Sustain=\"&b;\"/></Settings>",
         "declares entities"},
        {"malformed", std::string(kDeclaration) + "<Settings>\n<Sustain Sustain=\"80\"></Settings>",
         "not well-formed XML (line 3: mismatched tag)"},
        {"empty file", "", "not well-formed XML"},
        {"no patch key", std::string(kDeclaration) + "<html><body><p>Attack</p><attack attack=\"5\"/></body></html>",
         "none of the patch settings"},
        {"only the root", std::string(kDeclaration) + "<Settings/>", "none of the patch settings"},
        {"nan", std::string("<Settings>") + Entry("Attack", "5") + Entry("SustainHarmonic5", "nan") + "</Settings>",
         "the value \"nan\" of SustainHarmonic5 is not a finite number"},
        {"inf", "<Settings>" + Entry("AttackHarmonic127", "inf") + "</Settings>",
         "the value \"inf\" of AttackHarmonic127"},
        {"negative infinity", "<Settings>" + Entry("LFOFrequency", " -Infinity") + "</Settings>",
         "of LFOFrequency is not a finite number"},
        {"beyond float", "<Settings>" + Entry("AttackHarmonic0", "1e39") + "</Settings>",
         "the value \"1e39\" of AttackHarmonic0 is not a finite number"},
        {"nan with payload", "<Settings>" + Entry("SustainHarmonic0", "nan(0x1)") + "</Settings>",
         "of SustainHarmonic0"},
        // Finite values are stored as found, however large.
        {"largest float", "<Settings>" + Entry("AttackHarmonic0", "3.4e38") + Entry("Attack", "1000") + "</Settings>",
         nullptr},
        {"an empty key is a key", "<Settings>" + Entry("Release", "") + "</Settings>", nullptr},
        {"windows-1252", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><Settings>" + Entry("Sustain", "80") +
                             "<x y=\"\xe9\"/></Settings>",
         nullptr},
        // Code page names as documents write them, loosely.
        {"windows1252", "<?xml version=\"1.0\" encoding=\"Windows1252\"?><Settings>" + Entry("Sustain", "80") +
                            "<x y=\"\x80\xe9\"/></Settings>",
         nullptr},
        {"ISO8859-2", "<?xml version=\"1.0\" encoding=\"ISO8859-2\"?><Settings>" + Entry("Sustain", "80") +
                          "<x y=\"\xb1\"/></Settings>",
         nullptr},
        {"unknown encoding", "<?xml version=\"1.0\" encoding=\"no-such-code\"?><Settings>" + Entry("Sustain", "80") +
                                 "</Settings>",
         "not well-formed XML (line 1: unknown encoding)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::ofstream(path, std::ios::binary | std::ios::trunc) << c.text;
        Patch p;
        p.attackMs = 777;
        const std::string reason = ReadPatchFile(path, p);
        if (c.reason) {
            EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
            EXPECT_EQ(p.attackMs, 777);
            const std::string message = PatchLoadMessage(path, reason);
            EXPECT_EQ(message, "Cannot load the patch file \"" + path + "\": " + reason + ". The sound is unchanged.");
        } else {
            EXPECT_EQ(reason, "");
            EXPECT_NE(p.attackMs, 777);
        }
    }
}

// The sustain level is held within -1000 to 1000 percent on load, so that
// no arithmetic on it can overflow (100 - sustain, for one); every value a
// control can give, and far beyond, loads as it is.
TEST_F(PatchFiles, SustainIsHeldWithinAThousandPercent)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"-2147483648", -1000}, {"2147483647", 1000}, {"-99999999999", -1000}, {"1001", 1000}, {"-1001", -1000},
        {"1000", 1000},         {"-1000", -1000},     {"0", 0},                {"100", 100},   {"55", 55},
        {"-1", -1},             {"150", 150},
    };
    for (const auto& [text, sustain] : cases) {
        std::ofstream(path) << "<Settings>" << Entry("Sustain", text) << "</Settings>";
        Patch p;
        ASSERT_EQ(ReadPatchFile(path, p), "") << text;
        EXPECT_EQ(p.sustainPercent, sustain) << text;
        SettingsFile doc;
        ASSERT_TRUE(doc.LoadFile(path));
        EXPECT_EQ(ReadPatch(doc).sustainPercent, sustain) << text;
    }
}

// A value that is not a number as a whole is refused, naming the key and the
// text as the file has it; so is a fraction (or an exponent) where the key
// takes whole numbers. What files rely on still loads: white space around a
// number, a sign, an exponent in a float, an empty or missing value as 0.
TEST_F(PatchFiles, RefusesValuesThatAreNotNumbersNamingThemAsWritten)
{
    struct Refused {
        const char* key;
        const char* text;
        const char* reason;
    } refused[] = {
        {"Attack", "abc", "the value \"abc\" of Attack is not a whole number"},
        {"Attack", "2.5", "the value \"2.5\" of Attack is not a whole number"},
        {"Decay", "12abc", "the value \"12abc\" of Decay is not a whole number"},
        {"Sustain", "80%", "the value \"80%\" of Sustain is not a whole number"},
        {"Release", "1e3", "the value \"1e3\" of Release is not a whole number"},
        {"LFOWaveform", "0x2", "the value \"0x2\" of LFOWaveform is not a whole number"},
        {"ModWheel", "-", "the value \"-\" of ModWheel is not a whole number"},
        {"ModWheel", "1 2", "the value \"1 2\" of ModWheel is not a whole number"},
        {"Attack", "nan", "the value \"nan\" of Attack is not a whole number"},
        {"AttackHarmonic0", "abc", "the value \"abc\" of AttackHarmonic0 is not a number"},
        {"SustainHarmonic127", "7x", "the value \"7x\" of SustainHarmonic127 is not a number"},
        {"LFOFrequency", "x7", "the value \"x7\" of LFOFrequency is not a number"},
        {"LFOFrequency", "2,5", "the value \"2,5\" of LFOFrequency is not a number"},
        {"Volume", "-6dB", "the value \"-6dB\" of Volume is not a number"},
        {"Volume", "inf", "the value \"inf\" of Volume is not a finite number"},
        {"Volume", "-1e39", "the value \"-1e39\" of Volume is not a finite number"},
        {"AttackHarmonic3", "0.5 0.25", "the value \"0.5 0.25\" of AttackHarmonic3 is not a number"},
        {"AttackHarmonic3", ".", "the value \".\" of AttackHarmonic3 is not a number"},
        {"SustainHarmonic5", "nan", "the value \"nan\" of SustainHarmonic5 is not a finite number"},
    };
    for (const Refused& c : refused) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.text);
        std::ofstream(path, std::ios::trunc) << kDeclaration << "<Settings>" << Entry("SustainHarmonic0", "0.5")
                                             << Entry(c.key, c.text) << "</Settings>";
        Patch p;
        p.attackMs = 777;
        EXPECT_EQ(ReadPatchFile(path, p), c.reason);
        EXPECT_EQ(p.attackMs, 777) << "the patch is untouched";
    }
    struct Accepted {
        const char* key;
        const char* text;
        double value;
    } accepted[] = {
        {"Attack", " 250", 250},        {"Attack", "250 ", 250},          {"Decay", "&#9;+8", 8},
        {"Release", "-7", -7},          {"Release", "", 0},               {"LFOWaveform", "  ", 0},
        {"ModWheel", "99999999999", INT32_MAX},                           {"Sustain", "-99999999999", -1000},
        {"LFOFrequency", "2.5", 2.5},   {"LFOFrequency", " 1e-2 ", 0.01f}, {"AttackHarmonic0", "-.5", -0.5},
        {"AttackHarmonic0", "5E-1", 0.5}, {"SustainHarmonic7", "0x1p-2", 0.25}, {"SustainHarmonic7", "3.4e38", 3.4e38f},
        {"Volume", " -6.0206 ", -6.0206f}, {"Volume", "1e2", 100}, // held by the engine, not the reader
        {"BandLimit", "1", 1},          {"BandLimit", " 7", 7},
    };
    for (const Accepted& c : accepted) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.text);
        std::ofstream(path, std::ios::trunc) << kDeclaration << "<Settings>" << Entry(c.key, c.text) << "</Settings>";
        Patch p;
        ASSERT_EQ(ReadPatchFile(path, p), "");
        const std::string key = c.key;
        const int32_t* const ints[] = {&p.attackMs, &p.decayMs, &p.sustainPercent, &p.releaseMs, &p.lfoWaveform,
                                       &p.modWheel, &p.bandLimit};
        const char* const intKeys[] = {"Attack", "Decay", "Sustain", "Release", "LFOWaveform", "ModWheel", "BandLimit"};
        double read = key == "LFOFrequency"      ? p.lfoFrequency
                      : key == "Volume"          ? p.volumeDb
                      : key == "AttackHarmonic0" ? p.attack.level[0]
                                                 : p.sustain.level[7];
        for (int i = 0; i < 7; ++i)
            if (key == intKeys[i])
                read = *ints[i];
        EXPECT_EQ(read, c.value);
    }
}

TEST_F(PatchFiles, KeepsFiniteValuesAsFoundAndMissingKeysAsZero)
{
    std::ofstream(path) << kDeclaration << "<Settings>" << Entry("Sustain", "80") << Entry("AttackHarmonic3", "3.4e38")
                        << Entry("SustainHarmonic3", "-1e-45") << Entry("Release", "-5") << "</Settings>";
    Patch p;
    ASSERT_EQ(ReadPatchFile(path, p), "");
    EXPECT_EQ(p.sustainPercent, 80);
    EXPECT_EQ(p.releaseMs, -5);
    EXPECT_EQ(p.attack.level[3], 3.4e38f);
    EXPECT_EQ(p.sustain.level[3], -1e-45f);
    EXPECT_EQ(p.attackMs, 0);
    EXPECT_EQ(p.attack.level[0], 0.0f);
    // A file that is not there says so.
    Patch q;
    EXPECT_NE(ReadPatchFile("/nonexistent/none.mrvn", q).find("cannot be read (No such file"), std::string::npos);
    EXPECT_NE(ReadPatchFile(::testing::TempDir(), q).find("cannot be read (Is a directory)"), std::string::npos);
}

// Finite levels whose notes add up beyond the largest float: the render gives
// infinities and NaN, which the meters count as over full scale and the guard
// turns into silence.
TEST(OutputGuard, NonFiniteSamplesBecomeZeroAndCountAsOverFullScale)
{
    auto s = std::make_unique<SynthState>();
    float loud[NUM_PARTIALS] = {};
    for (int h = 0; h < 4; ++h)
        loud[h] = 1e38f;
    s->SetSpectra(loud, loud);
    for (int note : {60, 64, 67})
        s->StartNote(note);
    float out[2 * MAX_FRAMES];
    SynthStateTestAccess::RenderBuffer(*s, out, MAX_FRAMES);
    size_t nonFinite = 0;
    for (float v : out)
        nonFinite += !std::isfinite(v);
    ASSERT_GT(nonFinite, 0u) << "the fixture must overflow";
    EXPECT_EQ(s->LeftPeak(), std::numeric_limits<float>::max());
    EXPECT_EQ(s->RightPeak(), std::numeric_limits<float>::max());
    // The fast render measures the same way.
    SynthStateTestAccess::Render(*s, out, MAX_FRAMES);
    EXPECT_EQ(s->LeftPeak(), std::numeric_limits<float>::max());
    nonFinite = 0;
    for (float v : out)
        nonFinite += !std::isfinite(v);

    float copy[2 * MAX_FRAMES];
    std::memcpy(copy, out, sizeof out);
    EXPECT_EQ(SilenceNonFinite(out, 2 * MAX_FRAMES), nonFinite);
    for (int i = 0; i < 2 * MAX_FRAMES; ++i) {
        if (std::isfinite(copy[i]))
            ASSERT_EQ(std::memcmp(&out[i], &copy[i], sizeof(float)), 0) << i; // finite samples untouched
        else
            ASSERT_EQ(out[i], 0.0f) << i;
    }
    // A NaN level (set here directly; the loader refuses one) makes every
    // sample NaN: the meters must not read that as silence.
    float nan[NUM_PARTIALS] = {std::nanf("")};
    s->SetSpectra(nan, nan);
    SynthStateTestAccess::Render(*s, out, MAX_FRAMES);
    EXPECT_EQ(s->LeftPeak(), std::numeric_limits<float>::max());
    EXPECT_EQ(SilenceNonFinite(out, 2 * MAX_FRAMES), 2u * MAX_FRAMES);
    // An ordinary loud buffer keeps its real peak.
    float quiet[NUM_PARTIALS] = {2.0f};
    s->SetSpectra(quiet, quiet);
    for (int b = 0; b < 4; ++b)
        SynthStateTestAccess::Render(*s, out, MAX_FRAMES);
    EXPECT_GT(s->LeftPeak(), 1.0f);
    EXPECT_LT(s->LeftPeak(), 7.0f);
    EXPECT_EQ(SilenceNonFinite(out, 2 * MAX_FRAMES), 0u);
}


bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The 265 values of two patches, bit for bit; the first difference named.
std::string Difference(const Patch& a, const Patch& b)
{
    const int32_t ia[] = {a.attackMs, a.decayMs, a.sustainPercent, a.releaseMs, a.lfoWaveform, a.modWheel, a.bandLimit};
    const int32_t ib[] = {b.attackMs, b.decayMs, b.sustainPercent, b.releaseMs, b.lfoWaveform, b.modWheel, b.bandLimit};
    for (int i = 0; i < 7; ++i)
        if (ia[i] != ib[i])
            return "integer " + std::to_string(i) + ": " + std::to_string(ia[i]) + " vs " + std::to_string(ib[i]);
    if (!SameBits(a.lfoFrequency, b.lfoFrequency))
        return "LFOFrequency";
    if (!SameBits(a.volumeDb, b.volumeDb))
        return "Volume";
    for (int h = 0; h < NUM_PARTIALS; ++h)
        if (!SameBits(a.attack.level[h], b.attack.level[h]) || !SameBits(a.sustain.level[h], b.sustain.level[h]))
            return "harmonic " + std::to_string(h);
    return "";
}

// Three notes through attack, decay and release, as bytes.
std::vector<float> Play(const Patch& patch)
{
    auto s = std::make_unique<SynthState>();
    ApplyPatch(patch, *s);
    s->SetModWheelDepth(0.5f);
    for (int note : {48, 60, 67})
        s->StartNote(note);
    std::vector<float> out(2 * MAX_FRAMES * 24);
    for (int b = 0; b < 24; ++b) {
        if (b == 16)
            for (int note : {48, 60, 67})
                s->ReleaseNote(note);
        SynthStateTestAccess::RenderBuffer(*s, out.data() + 2 * MAX_FRAMES * b, MAX_FRAMES);
    }
    return out;
}

// Runs `work` in a child process (with fewer rights or a file size limit)
// and returns the text it reports.
std::string InChild(const std::function<std::string()>& work)
{
    int fds[2];
    if (pipe(fds) != 0)
        return "pipe failed";
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        const std::string text = work();
        if (write(fds[1], text.data(), text.size()) < 0)
            _exit(2);
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return text;
}

// A named pipe or a device is refused at once, before anything is read: a
// pipe that nobody writes would otherwise hold the loader (and the window
// that called it) in open() for good. The child gives up after 3 seconds.
TEST_F(PatchFiles, RefusesAPipeOrADeviceWithoutWaiting)
{
    const std::string fifo = ::testing::TempDir() + "marovane_patch_fifo.mrvn";
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::pair<std::string, std::string> cases[] = {
        {fifo, "it is a named pipe, not a regular file"},
        {"/dev/zero", "it is a device, not a regular file"},
    };
    for (const auto& [file, reason] : cases) {
        const std::string said = InChild([&file] {
            alarm(3);
            Patch p;
            return ReadPatchFile(file, p);
        });
        EXPECT_EQ(said, reason) << file;
        EXPECT_EQ(PatchLoadMessage(file, said),
                  "Cannot load the patch file \"" + file + "\": " + reason + ". The sound is unchanged.");
    }
    std::remove(fifo.c_str());
}

class PatchSaving : public PatchFiles {};

// Saving then loading gives back the same sound: every value bit for bit,
// and so the same rendered bytes, for ordinary, junk and extreme patches.
TEST_F(PatchSaving, SaveThenLoadGivesTheSameSound)
{
    std::vector<std::pair<std::string, Patch>> patches;
    const std::set<std::string> shipped = ShippedPatchFiles();
    ASSERT_GT(shipped.size(), 0u);
    for (const std::string& file : shipped) {
        Patch p;
        ASSERT_EQ(ReadPatchFile(file, p), "");
        patches.emplace_back(file, p);
    }
    {
        // Odd but valid texts as a file may hold them: only some keys, white
        // space around a number, a sign, a hexadecimal float.
        std::ofstream(path) << "<Other><Attack Attack=\" 250 \"/><LFOFrequency LFOFrequency=\"2.55555555555\"/>"
                               "<SustainHarmonic7 SustainHarmonic7=\"0x1.fffffep-3\"/><Decay Decay=\"+12\"/></Other>";
        Patch p;
        ASSERT_EQ(ReadPatchFile(path, p), "");
        patches.emplace_back("junk", p);
    }
    Patch extreme;
    extreme.attackMs = INT32_MIN;
    extreme.decayMs = INT32_MAX;
    extreme.sustainPercent = -1;
    extreme.releaseMs = 0;
    extreme.lfoFrequency = -0.0f;
    extreme.lfoWaveform = 99;
    extreme.modWheel = -16383;
    const float specials[] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::min(),
                              std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::max(),
                              -0.0f, 0.1f, 1.0f / 3.0f, 16777217.0f, 5e-39f, 9.99999944e-11f};
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        extreme.attack.level[h] = specials[h % std::size(specials)];
        extreme.sustain.level[h] = std::nextafter(specials[(h + 3) % std::size(specials)], 0.0f);
    }
    patches.emplace_back("extreme", extreme);
    // Floats with every bit of the mantissa in use, where a short text is
    // most likely to read back one step away.
    Patch dense;
    uint32_t bits = 0x3f800001u;
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        bits = bits * 1664525u + 1013904223u;
        const uint32_t finite = (bits & 0x807fffffu) | ((bits % 254u + 1u) << 23); // any exponent but inf/nan
        std::memcpy(&dense.attack.level[h], &finite, sizeof finite);
        dense.sustain.level[h] = std::ldexp(static_cast<float>(h + 1) / 129.0f, -(h % 40));
    }
    dense.lfoFrequency = 4.99999952f;
    dense.volumeDb = -6.0206f;
    dense.bandLimit = 1;
    patches.emplace_back("dense", dense);
    extreme.volumeDb = 40.0f; // kept as found; the engine holds it to 6 dB
    patches.emplace_back("extreme, loud", extreme);

    for (const auto& [name, patch] : patches) {
        SCOPED_TRACE(name);
        ASSERT_EQ(WritePatchFile(path, patch), "");
        SettingsFile doc;
        ASSERT_TRUE(doc.LoadFile(path));
        // All 265 keys in the loader's order and nothing else, but Volume
        // only where it is not 0 dB, and BandLimit only where it is on.
        int k = 0;
        for (const SettingsFile::Entry& entry : doc.Entries()) {
            if (SameBits(patch.volumeDb, 0.0f) && PatchKeys()[k] == "Volume")
                ++k;
            if (patch.bandLimit == 0 && PatchKeys()[k] == "BandLimit")
                ++k;
            ASSERT_LT(k, kPatchKeyCount);
            EXPECT_EQ(entry.key, PatchKeys()[k]) << k;
            ++k;
        }
        EXPECT_EQ(k, kPatchKeyCount);
        Patch back;
        ASSERT_EQ(ReadPatchFile(path, back), "");
        EXPECT_EQ(Difference(patch, back), "");
        EXPECT_TRUE(Play(patch) == Play(back)) << "the rendered bytes differ";
    }
}

// Every shipped patch saves without `key`; with `set` applied it saves the
// same text with just `line` added before the mod wheel's entry. Returns the
// last such text written.
std::string ExpectShippedPatchesGainOneEntry(const char* key, void (*set)(Patch&), const std::string& line)
{
    const std::set<std::string> shipped = ShippedPatchFiles();
    EXPECT_GT(shipped.size(), 0u);
    std::string written;
    for (const std::string& file : shipped) {
        SCOPED_TRACE(file);
        Patch p;
        EXPECT_EQ(ReadPatchFile(file, p), "");
        SettingsFile plain;
        WritePatch(p, plain);
        const std::string text = plain.SaveText();
        EXPECT_EQ(text.find(key), std::string::npos);
        set(p);
        SettingsFile changed;
        WritePatch(p, changed);
        written = changed.SaveText();
        const size_t at = text.find("  <ModWheel ");
        if (at == std::string::npos) {
            ADD_FAILURE() << "no ModWheel entry";
            continue;
        }
        EXPECT_EQ(written, text.substr(0, at) + line + text.substr(at));
    }
    return written;
}

// The output volume travels with the patch: no Volume key is 0 dB, a value
// is kept as found and held to -60 to 6 dB by the engine when the patch is
// applied, the state's volume comes back into a patch, and a patch at 0 dB
// saves without the key, where any other volume adds that one entry.
TEST_F(PatchSaving, VolumeLoadsAppliesAndSaves)
{
    const struct {
        const char* entry; // "": no Volume key
        float read;
        float applied;
    } cases[] = {
        {"", 0.0f, 0.0f},
        {"<Volume Volume=\"-6.0206\"/>", -6.0206f, -6.0206f},
        {"<Volume Volume=\"\"/>", 0.0f, 0.0f},
        {"<Volume Volume=\"6\"/>", 6.0f, 6.0f},
        {"<Volume Volume=\"12.5\"/>", 12.5f, 6.0f},
        {"<Volume Volume=\"-100\"/>", -100.0f, -60.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        std::ofstream(path, std::ios::trunc) << kDeclaration << "<Settings>" << Entry("Attack", "5") << c.entry
                                             << "</Settings>";
        Patch p;
        ASSERT_EQ(ReadPatchFile(path, p), "");
        EXPECT_EQ(p.volumeDb, c.read);
        auto s = std::make_unique<SynthState>();
        s->SetParameter(ParamId::Volume, -30.0f);
        ApplyPatch(p, *s);
        EXPECT_EQ(s->Parameter(ParamId::Volume), c.applied);
        EXPECT_EQ(PatchFromState(*s, 0).volumeDb, c.applied);
    }

    ExpectShippedPatchesGainOneEntry("Volume", [](Patch& p) { p.volumeDb = -12.25f; },
                                     "  <Volume Volume=\"-12.25\"/>\n");
}

// The band limit travels with the patch as Volume does: no BandLimit key is
// off, any other whole number on; the state's switch comes back into a
// patch; a patch without it saves without the key, one with it adds that
// one entry.
TEST_F(PatchSaving, BandLimitLoadsAppliesAndSaves)
{
    const struct {
        const char* entry; // "": no BandLimit key
        int32_t read;
        bool on;
    } cases[] = {
        {"", 0, false},
        {"<BandLimit BandLimit=\"1\"/>", 1, true},
        {"<BandLimit BandLimit=\"0\"/>", 0, false},
        {"<BandLimit BandLimit=\"\"/>", 0, false},
        {"<BandLimit BandLimit=\"3\"/>", 3, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        std::ofstream(path, std::ios::trunc) << kDeclaration << "<Settings>" << Entry("Attack", "5") << c.entry
                                             << "</Settings>";
        Patch p;
        ASSERT_EQ(ReadPatchFile(path, p), "");
        EXPECT_EQ(p.bandLimit, c.read);
        auto s = std::make_unique<SynthState>();
        s->SetParameter(ParamId::BandLimit, c.on ? 0.0f : 1.0f);
        ApplyPatch(p, *s);
        EXPECT_EQ(s->bandLimit.load(), c.on);
        EXPECT_EQ(PatchFromState(*s, 0).bandLimit, c.on ? 1 : 0);
    }
    std::ofstream(path, std::ios::trunc) << kDeclaration << "<Settings>" << Entry("BandLimit", "1.5") << "</Settings>";
    Patch refused;
    EXPECT_EQ(ReadPatchFile(path, refused), "the value \"1.5\" of BandLimit is not a whole number");

    const std::string written = ExpectShippedPatchesGainOneEntry(
        "BandLimit", [](Patch& p) { p.bandLimit = 1; }, "  <BandLimit BandLimit=\"1\"/>\n");
    std::ofstream(path, std::ios::trunc) << written;
    Patch back;
    ASSERT_EQ(ReadPatchFile(path, back), "");
    EXPECT_EQ(back.bandLimit, 1);
}

TEST(PatchNumbers, FloatTextsReadBackBitForBit)
{
    // The shortest text where it reads back, more digits where the reader's
    // second rounding (through a double) would land one step away.
    const std::pair<float, const char*> cases[] = {
        {0.5f, "0.5"}, {0.1f, "0.1"}, {-0.0f, "-0"}, {3.4028235e38f, "3.4028235e+38"}, {1e-45f, "1e-45"},
        {250.0f, "250"},
    };
    for (auto [value, text] : cases)
        EXPECT_EQ(FormatPatchFloat(value), text);
    uint32_t bits = 12345;
    for (int i = 0; i < 200000; ++i) {
        bits = bits * 1664525u + 1013904223u;
        float v;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v))
            continue;
        const float back = ParsePatchFloat(FormatPatchFloat(v));
        ASSERT_TRUE(SameBits(back, v)) << std::hexfloat << v << " became " << back;
    }
}

// A save that cannot finish leaves the file that was there as it was, and
// says why; nothing half-written is left beside it.
TEST_F(PatchSaving, AFailedSaveKeepsTheOldFile)
{
    const std::string folder = ::testing::TempDir() + "marovane_save_test";
    mkdir(folder.c_str(), 0755);
    const std::string target = folder + "/Sound.mrvn";
    const std::string oldText = "<Settings><Sustain Sustain=\"80\"/></Settings>\n";
    std::ofstream(target) << oldText;
    chmod(target.c_str(), 0640);
    auto unchanged = [&] {
        std::ifstream f(target);
        const std::string text((std::istreambuf_iterator<char>(f)), {});
        size_t files = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
            ++files;
        return text == oldText && files == 1;
    };
    Patch p;
    p.sustainPercent = 55;

    // The folder cannot be written (as a user without the right to it).
    chmod(folder.c_str(), 0555);
    std::string error = InChild([&] {
        if (getuid() == 0 && setuid(65534) != 0)
            return std::string("cannot drop root");
        return WritePatchFile(target, p);
    });
    chmod(folder.c_str(), 0755);
    EXPECT_NE(error.find("Cannot save the patch file \"" + target + "\""), std::string::npos) << error;
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    EXPECT_TRUE(unchanged());

    // The disk fills part-way (a file size limit of 1 KB; a patch is 10 KB).
    error = InChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1024, 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        return WritePatchFile(target, p);
    });
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_TRUE(unchanged());

    // A value the loader would refuse is not written.
    p.attack.level[9] = std::numeric_limits<float>::infinity();
    EXPECT_EQ(WritePatchFile(target, p),
              "Cannot save the patch file \"" + target + "\": the value of AttackHarmonic9 is not a finite number.");
    EXPECT_TRUE(unchanged());

    // And one that succeeds replaces it, keeping its permissions.
    p.attack.level[9] = 0.25f;
    ASSERT_EQ(WritePatchFile(target, p), "");
    Patch back;
    ASSERT_EQ(ReadPatchFile(target, back), "");
    EXPECT_EQ(back.sustainPercent, 55);
    EXPECT_EQ(back.attack.level[9], 0.25f);
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A name as long as a name can be (255 bytes): the temporary file beside
    // it must have a shorter one.
    const std::string longest = folder + "/" + std::string(250, 'n') + ".mrvn";
    EXPECT_EQ(WritePatchFile(longest, p), "");
    Patch fromLongest;
    EXPECT_EQ(ReadPatchFile(longest, fromLongest), "");
    EXPECT_EQ(fromLongest.sustainPercent, 55);
    std::remove(longest.c_str());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), {}), 1) << "no temporary file is left";
    std::filesystem::remove_all(folder);
}

} // namespace
