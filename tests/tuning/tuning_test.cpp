// The Scala reader: scales and keyboard mappings from the files in this
// folder, every note's frequency against the tables make-tables.py computes
// on its own (exact fractions, 50-digit decimals), the twelve-equal scale
// against the engine's note table, and a table of malformed texts each
// refused with its reason.
#include <cmath>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "synth/WaveTable.h"
#include "tuning/Tuning.h"

namespace {

std::string ReadFile(const std::string& name)
{
    std::ifstream in(std::string(TUNING_TEST_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string TwelveEqual()
{
    std::string text = "! twelve.scl\nTwelve equal\n12\n";
    for (int step = 1; step <= 12; ++step)
        text += std::to_string(step * 100) + ".0\n";
    return text;
}

struct TableCase {
    const char* name;
    const char* scl;
    const char* kbm; // null: no mapping
    int silent;      // keys expected not to sound
};

void PrintTo(const TableCase& c, std::ostream* out) { *out << c.name; }

class TuningTableTest : public testing::TestWithParam<TableCase> {};

TEST_P(TuningTableTest, EveryNoteWithinAHundredthOfACentOfTheExactTable)
{
    const TableCase& c = GetParam();
    Scale scale;
    ASSERT_EQ(ReadScl(ReadFile(c.scl), scale), "");
    KeyMap map;
    if (c.kbm != nullptr) {
        ASSERT_EQ(ReadKbm(ReadFile(c.kbm), map), "");
    }
    const TuningTable table = TuningFrequencies(scale, c.kbm != nullptr ? &map : nullptr);

    std::istringstream expected(ReadFile(std::string("expected/") + c.name + ".txt"));
    int silent = 0;
    for (int key = 0; key < 128; ++key) {
        int note = -1;
        std::string value;
        ASSERT_TRUE(expected >> note >> value);
        ASSERT_EQ(note, key);
        if (value == "silent") {
            ++silent;
            EXPECT_FALSE(table.sounds[key]) << "key " << key;
            EXPECT_EQ(table.frequency[key], 0.0) << "key " << key;
            continue;
        }
        ASSERT_TRUE(table.sounds[key]) << "key " << key;
        const double cents = 1200.0 * std::log2(table.frequency[key] / std::stod(value));
        EXPECT_LT(std::fabs(cents), 0.01) << "key " << key << ": " << table.frequency[key] << " Hz, not " << value;
    }
    EXPECT_EQ(silent, c.silent);
}

INSTANTIATE_TEST_SUITE_P(Scales, TuningTableTest,
                         testing::Values(TableCase{"edo19", "edo19.scl", nullptr, 0},
                                         TableCase{"just12-d", "just12.scl", "just12-d.kbm", 12 + 12},
                                         TableCase{"bohlen-pierce", "bohlen-pierce.scl", nullptr, 0},
                                         TableCase{"steps88", "steps88.scl", "steps88.kbm", 10 + 7},
                                         TableCase{"white-keys", "major.scl", "white-keys.kbm",
                                                   21 + 19 + 36}),
                         [](const testing::TestParamInfo<TableCase>& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (ch == '-')
                                     ch = '_';
                             return name;
                         });

TEST(Tuning, ReadsTheDegreesExactly)
{
    Scale scale;
    ASSERT_EQ(ReadScl(ReadFile("just12.scl"), scale), "");
    EXPECT_EQ(scale.description, "Five-limit just chromatic");
    ASSERT_EQ(scale.degrees.size(), 12u);
    EXPECT_TRUE(scale.degrees[5].isRatio);
    EXPECT_EQ(scale.degrees[5].numerator, 45u);
    EXPECT_EQ(scale.degrees[5].denominator, 32u);
    EXPECT_TRUE(scale.degrees[11].isRatio); // "2" is 2/1
    EXPECT_EQ(scale.degrees[11].numerator, 2u);
    EXPECT_EQ(scale.degrees[11].denominator, 1u);
    EXPECT_DOUBLE_EQ(scale.degrees[11].cents, 1200.0);

    ASSERT_EQ(ReadScl("\xEF\xBB\xBF! with a byte order mark\r\n\r\n2\n  -13.5 a comment\n\t.5\n", scale), "");
    EXPECT_EQ(scale.description, "");
    ASSERT_EQ(scale.degrees.size(), 2u);
    EXPECT_FALSE(scale.degrees[0].isRatio);
    EXPECT_EQ(scale.degrees[0].cents, -13.5);
    EXPECT_EQ(scale.degrees[1].cents, 0.5);
}

TEST(Tuning, ReadsTheKeyMap)
{
    KeyMap map;
    ASSERT_EQ(ReadKbm(ReadFile("white-keys.kbm"), map), "");
    EXPECT_EQ(map.size, 12);
    EXPECT_EQ(map.firstNote, 21);
    EXPECT_EQ(map.lastNote, 108);
    EXPECT_EQ(map.middleNote, 60);
    EXPECT_EQ(map.referenceNote, 69);
    EXPECT_EQ(map.referenceFrequency, 440.0);
    EXPECT_EQ(map.octaveDegree, 7);
    const std::vector<int> pattern = {0, UNMAPPED_KEY, 1, UNMAPPED_KEY, 2, 3, UNMAPPED_KEY, 4, UNMAPPED_KEY, 5,
                                      UNMAPPED_KEY, 6};
    EXPECT_EQ(map.mapping, pattern);
}

// Without a mapping the twelve-equal scale is 440 x 2^((n - 69) / 12) on
// every key, to the bit when both are exp2 of the same double; the engine's
// own note table holds those numbers written to three decimals (two from
// note 124 on), so it agrees to within that rounding.
TEST(Tuning, TwelveEqualWithoutAMapIsTheEnginesNoteTable)
{
    Scale scale;
    ASSERT_EQ(ReadScl(TwelveEqual(), scale), "");
    const TuningTable table = TuningFrequencies(scale, nullptr);
    for (int note = 0; note < 128; ++note) {
        ASSERT_TRUE(table.sounds[note]);
        EXPECT_EQ(table.frequency[note], 440.0 * std::exp2((note - 69) / 12.0)) << note;
        EXPECT_NEAR(table.frequency[note], 440.0 * std::pow(2.0, (note - 69) / 12.0),
                    1e-12 * table.frequency[note])
            << note;
        EXPECT_NEAR(table.frequency[note], NoteFrequency(static_cast<unsigned>(note)), note < 124 ? 0.0005 : 0.005)
            << note;
    }
    EXPECT_EQ(table.frequency[69], 440.0);
}

struct Malformed {
    std::string text;
    std::string reason;
};

void PrintTo(const Malformed& m, std::ostream* out) { *out << testing::PrintToString(m.text); }

class MalformedScl : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedScl, IsRefusedWithItsReason)
{
    Scale scale;
    const std::string reason = ReadScl(GetParam().text, scale);
    EXPECT_EQ(reason, GetParam().reason);
    EXPECT_TRUE(scale.degrees.empty());
    EXPECT_TRUE(scale.description.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MalformedScl,
    testing::Values(
        Malformed{"", "no description line: the text holds only comments"},
        Malformed{"! only\n! comments\n", "no description line: the text holds only comments"},
        Malformed{"name\n", "line 2: no number of notes after the description"},
        Malformed{"name\n\n", "line 2: the number of notes is missing"},
        Malformed{"name\ntwelve\n", "line 2: the number of notes is not a whole number"},
        Malformed{"name\n0\n", "line 2: the number of notes is not in 1 to 1024"},
        Malformed{"name\n-3\n", "line 2: the number of notes is not in 1 to 1024"},
        Malformed{"name\n1025\n", "line 2: the number of notes is not in 1 to 1024"},
        Malformed{"name\n99999999999999999999999\n", "line 2: the number of notes is not in 1 to 1024"},
        Malformed{"name\n3\n100.0\n! a comment\n2/1\n", "line 6: the text ends after 2 of 3 pitches"},
        Malformed{"name\n2\n100.0\n\n", "line 4: no pitch"},
        Malformed{"name\n1\n  \t  \n", "line 3: no pitch"},
        Malformed{"name\n1\n3/0\n", "line 3: a ratio with a zero part"},
        Malformed{"name\n1\n0/2\n", "line 3: a ratio with a zero part"},
        Malformed{"name\n1\n0\n", "line 3: a ratio with a zero part"},
        Malformed{"name\n1\n-3/2\n", "line 3: a ratio with a negative part"},
        Malformed{"name\n1\n3/-2\n", "line 3: a ratio with a negative part"},
        Malformed{"name\n1\n-2\n", "line 3: a ratio with a negative part"},
        Malformed{"name\n1\nfifth\n", "line 3: the pitch is neither cents nor a ratio"},
        Malformed{"name\n1\n3/2/1\n", "line 3: the pitch is neither cents nor a ratio"},
        Malformed{"name\n1\n3/\n", "line 3: the pitch is neither cents nor a ratio"},
        Malformed{"name\n1\n1e3\n", "line 3: the pitch is neither cents nor a ratio"},
        Malformed{"name\n1\n1.5e3\n", "line 3: the pitch in cents is not a number"},
        Malformed{"name\n1\n1.2.3\n", "line 3: the pitch in cents is not a number"},
        Malformed{"name\n1\n.\n", "line 3: the pitch in cents is not a number"},
        Malformed{"name\n1\n18446744073709551616/1\n", "line 3: a ratio with a part too large"},
        Malformed{"name\n1\n3/18446744073709551616\n", "line 3: a ratio with a part too large"},
        Malformed{"name\n1\n1" + std::string(400, '0') + ".0\n", "line 3: the pitch in cents is out of range"}),
    [](const testing::TestParamInfo<Malformed>& info) { return std::to_string(info.index); });

class MalformedKbm : public testing::TestWithParam<Malformed> {};

TEST_P(MalformedKbm, IsRefusedWithItsReason)
{
    KeyMap map;
    map.size = 5;
    const std::string reason = ReadKbm(GetParam().text, map);
    EXPECT_EQ(reason, GetParam().reason);
    EXPECT_EQ(map.size, 0);
    EXPECT_TRUE(map.mapping.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, MalformedKbm,
    testing::Values(
        Malformed{"", "line 1: the text ends before the size of the pattern"},
        Malformed{"! size\n-1\n", "line 2: the size of the pattern is not in 0 to 1024"},
        Malformed{"1025\n", "line 1: the size of the pattern is not in 0 to 1024"},
        Malformed{"0\n0\n128\n", "line 3: the last note is not in 0 to 127"},
        Malformed{"0\n-1\n", "line 2: the first note is not in 0 to 127"},
        Malformed{"0\n60\n59\n60\n60\n440.0\n0\n", "line 3: the last note is below the first"},
        Malformed{"0\n0\n127\n128\n", "line 4: the middle note is not in 0 to 127"},
        Malformed{"0\n0\n127\n\n", "line 4: the middle note is missing"},
        Malformed{"0\n0\n127\n60\nA4\n", "line 5: the reference note is not a whole number"},
        Malformed{"0\n0\n127\n60\n69\n", "line 6: the text ends before the reference frequency"},
        Malformed{"0\n0\n127\n60\n69\n0.0\n0\n", "line 6: the reference frequency is not a positive number of Hz"},
        Malformed{"0\n0\n127\n60\n69\n-440.0\n0\n",
                  "line 6: the reference frequency is not a positive number of Hz"},
        Malformed{"0\n0\n127\n60\n69\ninf\n0\n", "line 6: the reference frequency is not a number"},
        Malformed{"0\n0\n127\n60\n69\n4e2\n0\n", "line 6: the reference frequency is not a number"},
        Malformed{"0\n0\n127\n60\n69\n1" + std::string(400, '0') + "\n0\n",
                  "line 6: the reference frequency is not a positive number of Hz"},
        Malformed{"0\n0\n127\n60\n69\n440.0\n", "line 7: the text ends before the formal octave's degree"},
        Malformed{"0\n0\n127\n60\n69\n440.0\n-12\n", "line 7: the formal octave's degree is not in 0 to 100000"},
        Malformed{"3\n0\n127\n60\n60\n440.0\n3\n0\n1\n", "line 10: the text ends after 2 of 3 keys of the pattern"},
        Malformed{"3\n0\n127\n60\n60\n440.0\n3\n0\ny\n2\n", "line 9: the key's degree is not a whole number"},
        Malformed{"3\n0\n127\n60\n60\n440.0\n3\n0\n-1\n2\n", "line 9: the key's degree is not in 0 to 100000"},
        Malformed{"3\n0\n127\n60\n60\n440.0\n3\n0\n100001\n2\n", "line 9: the key's degree is not in 0 to 100000"},
        // Note 56 is four keys below the middle: entry (-4 mod 3) = 2.
        Malformed{"3\n0\n127\n60\n56\n440.0\n3\n0\n1\nx\n", "the reference note 56 falls on an unmapped key"}),
    [](const testing::TestParamInfo<Malformed>& info) { return std::to_string(info.index); });

// What the arithmetic cannot hold sounds nothing rather than an infinity: a
// scale of one enormous step has every key but the reference beyond the
// doubles.
TEST(Tuning, KeysBeyondTheDoublesDoNotSound)
{
    Scale scale;
    ASSERT_EQ(ReadScl("huge\n1\n" + std::string("9") + std::string(300, '0') + ".0\n", scale), "");
    KeyMap map;
    ASSERT_EQ(ReadKbm("0\n0\n127\n60\n60\n440.0\n0\n", map), "");
    const TuningTable table = TuningFrequencies(scale, &map);
    for (int key = 0; key < 128; ++key) {
        EXPECT_EQ(table.sounds[key], key == 60) << key;
        EXPECT_EQ(table.frequency[key], key == 60 ? 440.0 : 0.0) << key;
    }
}

} // namespace
