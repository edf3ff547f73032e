// Settings documents and patch reading, from small XML fixtures.
#include <gtest/gtest.h>

#include <wx/dir.h>
#include <wx/init.h>
#include <wx/log.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "patch/Patch.h"
#include "patch/SettingsFile.h"

namespace {

class PatchFiles : public ::testing::Test {
protected:
    wxInitializer init;
    wxLogNull quiet; // malformed fixtures make the toolkit complain
    std::string path = ::testing::TempDir() + "marovane_patch_test.mrvn";

    void TearDown() override { std::remove(path.c_str()); }

    // Loads a document from text; returns whether the toolkit accepted it.
    bool Load(wxSettingsFile& doc, const std::string& xml)
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
        wxSettingsFile doc;
        Load(doc, std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n") + c.xml);
        EXPECT_EQ(doc.GetValue(c.key), c.value) << c.xml << " / " << c.key;
    }
    wxSettingsFile empty;
    EXPECT_EQ(empty.GetRoot()->GetName(), "Settings");
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
    wxSettingsFile doc;
    ASSERT_TRUE(Load(doc, xml));
    const Patch p = ReadPatch(doc);
    auto s = std::make_unique<SynthState>();
    s->modWheelDepth = 0.3f;
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
        wxSettingsFile doc;
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
    wxSettingsFile missing;
    EXPECT_FALSE(missing.LoadFile("/nonexistent/none.mrvn"));
    EXPECT_EQ(missing.GetValue("Attack"), "");
}

TEST(ShippedPatches, EveryPatchLoadsAndPlays)
{
    wxInitializer init;
    const wxString folder = wxString(std::getenv("MAROVANE_SOURCE_DIR")) + "/resources/patches";
    wxArrayString files;
    ASSERT_GT(wxDir::GetAllFiles(folder, &files, "*.mrvn"), 0u);
    for (const wxString& file : files) {
        SCOPED_TRACE(file.ToStdString());
        wxSettingsFile doc;
        ASSERT_TRUE(doc.LoadFile(file));
        const Patch p = ReadPatch(doc);
        // A complete patch: all 263 keys are there.
        EXPECT_FALSE(doc.GetValue("ModWheel").empty());
        EXPECT_FALSE(doc.GetValue("SustainHarmonic127").empty());
        auto s = std::make_unique<SynthState>();
        ApplyPatch(p, *s);
        for (int note : {36, 60, 64, 67, 96})
            s->StartNote(note);
        float out[2 * MAX_FRAMES];
        float peak = 0;
        for (int b = 0; b < 172; ++b) {
            s->RenderBuffer(out, MAX_FRAMES);
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
            s->RenderBuffer(out, MAX_FRAMES);
        EXPECT_FALSE(s->AnyNoteActive());
    }
}

} // namespace
