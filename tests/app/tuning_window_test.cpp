// The window's tuning: a Scala scale (and a keyboard mapping) loaded sets
// every key's frequency and shows the tuning's name; a file that cannot be
// used keeps the tuning in use and says so once; the tuning is remembered
// between starts, and one that cannot be loaded at the start gives one
// message and twelve equal steps.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/KeyboardFixture.h"
#include "app/RememberedSettings.h"
#include "support/TuningTables.h"

namespace {

using marovane_test::TuningFile;

double CentsOff(double got, double want) { return std::fabs(1200.0 * std::log2(got / want)); }

class TuningWindowTest : public KeyboardWindowTest {
protected:
    // Every key of the window's sound against an expected table.
    void ExpectTable(const std::string& table)
    {
        for (int note = 0; note < NUM_NOTES; ++note) {
            const double want = marovane_test::ExpectedFrequency(table, note);
            if (want == 0.0) {
                EXPECT_FALSE(window->Synth().KeySounds(note)) << table << " note " << note;
                continue;
            }
            ASSERT_TRUE(window->Synth().KeySounds(note)) << table << " note " << note;
            EXPECT_LT(CentsOff(window->Synth().KeyFrequency(note), want), 0.01) << table << " note " << note;
        }
    }
    // A second start of the program: the window made anew.
    void Restart()
    {
        window->Destroy();
        PumpEvents(50);
        window = new wxKeyboard(nullptr);
        window->Show();
        PumpEvents(50);
    }
    std::string Bad(const std::string& name, const std::string& text)
    {
        const std::string path =
            (std::filesystem::temp_directory_path() / ("tuning-" + std::to_string(getpid()) + "-" + name)).string();
        std::ofstream(path) << text;
        return path;
    }
};

TEST_F(TuningWindowTest, AScaleAndAMappingTuneEveryKeyAndShowTheirName)
{
    EXPECT_EQ(window->TuningLabel(), "Tuning: twelve equal steps");
    EXPECT_FALSE(window->Synth().IsTuned());

    ASSERT_TRUE(window->LoadTuning(TuningFile("edo19.scl"), ""));
    ExpectTable("edo19");
    EXPECT_EQ(window->TuningLabel(), "Tuning: 19 equal steps of the octave, in cents");

    ASSERT_TRUE(window->LoadTuning(TuningFile("major.scl"), TuningFile("white-keys.kbm")));
    ExpectTable("white-keys");
    EXPECT_EQ(window->TuningLabel(), "Tuning: Just major (mapping white-keys.kbm)");
    EXPECT_TRUE(messages.empty());

    window->UseEqualTuning();
    EXPECT_FALSE(window->Synth().IsTuned());
    EXPECT_EQ(window->Synth().KeyFrequency(69), NoteFrequency(69));
    EXPECT_EQ(window->TuningLabel(), "Tuning: twelve equal steps");
}

// A scale without a description is named by its file.
TEST_F(TuningWindowTest, AScaleWithoutADescriptionIsNamedByItsFile)
{
    const std::string path = Bad("nameless.scl", "! nameless\n\n1\n2/1\n");
    ASSERT_TRUE(window->LoadTuning(path, ""));
    EXPECT_EQ(window->TuningLabel(), "Tuning: " + std::filesystem::path(path).filename().string());
    std::remove(path.c_str());
}

TEST_F(TuningWindowTest, AFileThatCannotBeUsedKeepsTheTuningAndSaysSoOnce)
{
    ASSERT_TRUE(window->LoadTuning(TuningFile("edo19.scl"), ""));
    const wxString label = window->TuningLabel();
    struct Case {
        std::string scl, kbm;
        std::string says; // in the message, beside the file's name
    };
    const std::string cut = Bad("cut.scl", "Cut short\n3\n100.0\n200.0\n");
    const std::string badMap = Bad("bad.kbm", "12\n0\n127\n60\n69\nfast\n");
    const Case cases[] = {
        {cut, "", "line 5"},
        {TuningFile("just12.scl"), badMap, "line 6"},
        {TuningFile("no-such.scl"), "", "No such file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.scl + " " + c.kbm);
        const size_t before = messages.size();
        EXPECT_FALSE(window->LoadTuning(c.scl, c.kbm));
        ASSERT_EQ(messages.size(), before + 1);
        const std::string message = messages.back().utf8_string();
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
        const std::string named = std::filesystem::path(c.kbm.empty() ? c.scl : c.kbm).filename().string();
        EXPECT_NE(message.find(named), std::string::npos) << message;
        ExpectTable("edo19");
        EXPECT_EQ(window->TuningLabel(), label);
    }
    std::remove(cut.c_str());
    std::remove(badMap.c_str());
}

TEST_F(TuningWindowTest, TheTuningIsRememberedAndOneThatIsGoneGivesOneMessage)
{
    const std::string scl = Bad("kept.scl", "Kept\n2\n600.0\n2/1\n");
    ASSERT_TRUE(window->LoadTuning(scl, TuningFile("just12-d.kbm")));
    EXPECT_EQ(SettingsMemory(RememberedSettingsPath()).Remembered().tuningScale, scl);
    Restart();
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(window->Synth().IsTuned());
    EXPECT_EQ(window->Synth().KeyFrequency(67), 392.0); // the mapping's reference
    EXPECT_EQ(window->TuningLabel(), "Tuning: Kept (mapping just12-d.kbm)");

    std::remove(scl.c_str());
    Restart();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].utf8_string().find(scl), std::string::npos) << messages[0];
    EXPECT_FALSE(window->Synth().IsTuned());
    EXPECT_EQ(window->TuningLabel(), "Tuning: twelve equal steps");
    EXPECT_EQ(SettingsMemory(RememberedSettingsPath()).Remembered().tuningScale, "");
}

} // namespace
