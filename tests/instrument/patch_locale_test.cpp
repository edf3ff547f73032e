// Patch numbers under a locale that writes decimals with a comma: a patch
// reads the same whatever the user's locale (the files are written with a
// point).
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "app/Instrument.h"
#include "patch/Patch.h"

namespace {

// German numbers (decimal comma), compiled into a private folder so the test
// needs no locale installed system-wide.
class CommaDecimalLocale : public testing::Test {
protected:
    void SetUp() override
    {
        const std::string dir = testing::TempDir() + "marovane-locales";
        const std::string locale = dir + "/de_DE.UTF-8";
        const std::string command = "test -d '" + locale + "' || { mkdir -p '" + dir +
                                    "' && localedef -i de_DE -f UTF-8 '" + locale + "' >/dev/null 2>&1; }";
        if (std::system(command.c_str()) != 0)
            GTEST_SKIP() << "localedef cannot build de_DE (Debian package locales)";
        setenv("LOCPATH", dir.c_str(), 1);
        ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
        ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    }
    void TearDown() override
    {
        std::setlocale(LC_ALL, "C");
        unsetenv("LOCPATH");
    }
};

TEST_F(CommaDecimalLocale, PatchNumbersAreReadWithAPoint)
{
    ASSERT_EQ(std::atof("2.5"), 2.0) << "the locale is not in force";
    const std::pair<const char*, float> floats[] = {
        {"2.5", 2.5f}, {"0.25", 0.25f}, {"1e-2", 0.01f}, {"-.5", -0.5f}, {"2,5", 2.0f},
    };
    for (auto [text, v] : floats)
        EXPECT_EQ(ParsePatchFloat(text), v) << text;
    EXPECT_EQ(ParsePatchInt("1.000"), 1);

    // And a whole patch through the instrument.
    const std::string path = testing::TempDir() + "marovane-comma.mrvn";
    std::ofstream(path) << "<?xml version=\"1.0\"?><Settings><LFOFrequency LFOFrequency=\"2.5\"/>"
                           "<SustainHarmonic0 SustainHarmonic0=\"0.75\"/></Settings>";
    NoDisplay display;
    auto instrument = std::make_unique<Instrument>(display, display);
    ASSERT_TRUE(instrument->LoadPatch(path).Loaded());
    std::remove(path.c_str());
    EXPECT_EQ(instrument->Synth().lfoFrequency, 2.5f);
    EXPECT_EQ(instrument->Synth().SustainLevel(0), 0.75f);

    // A comma is no decimal point in a patch, whatever the locale says: the
    // file is refused, naming the value, and the sound stays.
    std::ofstream(path) << "<?xml version=\"1.0\"?><Settings><LFOFrequency LFOFrequency=\"7,5\"/></Settings>";
    const PatchLoadResult comma = instrument->LoadPatch(path);
    std::remove(path.c_str());
    EXPECT_EQ(comma.status, PatchLoadResult::Status::NotAPatch);
    EXPECT_EQ(comma.message, "Cannot load the patch file \"" + path +
                                 "\": the value \"7,5\" of LFOFrequency is not a number. The sound is unchanged.");
    EXPECT_EQ(instrument->Synth().lfoFrequency, 2.5f);
}

} // namespace
