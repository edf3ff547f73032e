// The computer keyboard's key map: every key of the five rows by toolkit key
// code and by its place (X hardware code), and the keys that play nothing.
#include <gtest/gtest.h>

#include <set>

#include "midi/KeyMap.h"

namespace {

struct Key {
    int keyCode;       // as the toolkit reports it on a US layout
    unsigned hardware; // X hardware code of the same key
    int note;
};

// The whole table, row by row, lowest note first.
const Key kKeys[] = {
    {340, 67, 24}, {341, 68, 25}, {342, 69, 26}, {343, 70, 27}, {344, 71, 28}, {345, 72, 29},
    {346, 73, 30}, {347, 74, 31}, {348, 75, 32}, {349, 76, 33}, {350, 95, 34}, {351, 96, 35},
    {'1', 10, 36}, {'2', 11, 37}, {'3', 12, 38}, {'4', 13, 39}, {'5', 14, 40}, {'6', 15, 41},
    {'7', 16, 42}, {'8', 17, 43}, {'9', 18, 44}, {'0', 19, 45}, {'-', 20, 46}, {'+', 21, 47},
    {'Q', 24, 48}, {'W', 25, 49}, {'E', 26, 50}, {'R', 27, 51}, {'T', 28, 52}, {'Y', 29, 53},
    {'U', 30, 54}, {'I', 31, 55}, {'O', 32, 56}, {'P', 33, 57}, {'[', 34, 58}, {']', 35, 59},
    {'A', 38, 60}, {'S', 39, 61}, {'D', 40, 62}, {'F', 41, 63}, {'G', 42, 64}, {'H', 43, 65},
    {'J', 44, 66}, {'K', 45, 67}, {'L', 46, 68}, {';', 47, 69}, {'\'', 48, 70}, {13, 36, 71},
    {'Z', 52, 72}, {'X', 53, 73}, {'C', 54, 74}, {'V', 55, 75}, {'B', 56, 76}, {'N', 57, 77},
    {'M', 58, 78}, {',', 59, 79}, {'.', 60, 80}, {'/', 61, 81}, {306, 50, 82}, {'\\', 51, 83},
};

TEST(KeyMap, EveryKeyOfTheTablePlaysItsNoteByCodeAndByPlace)
{
    for (const Key& k : kKeys) {
        EXPECT_EQ(KeyToNote(k.keyCode), k.note) << "key code " << k.keyCode;
        EXPECT_EQ(PhysicalKeyToNote(k.hardware), k.note) << "hardware code " << k.hardware;
        EXPECT_EQ(NoteOfKey(k.keyCode, k.hardware), k.note);
        EXPECT_EQ(NoteOfKey(k.keyCode, 0), k.note) << "an event without hardware code";
    }
}

TEST(KeyMap, SixtyKeysCoverNotes24To83OnceEach)
{
    std::set<int> byCode, byPlace;
    for (int code = 0; code < 512; ++code) {
        if (int n = KeyToNote(code); n != 0 && code != '=') {
            EXPECT_TRUE(byCode.insert(n).second) << "note " << n << " twice, key code " << code;
        }
    }
    for (unsigned hw = 0; hw < 256; ++hw) {
        if (int n = PhysicalKeyToNote(hw); n != 0 && hw != 62) {
            EXPECT_TRUE(byPlace.insert(n).second) << "note " << n << " twice, hardware " << hw;
        }
    }
    EXPECT_EQ(byCode.size(), 60u);
    EXPECT_EQ(byPlace.size(), 60u);
    EXPECT_EQ(*byCode.begin(), LOWEST_KEYBOARD_NOTE);
    EXPECT_EQ(*byCode.rbegin(), HIGHEST_KEYBOARD_NOTE);
}

TEST(KeyMap, KeysThatReportOtherwiseOnThisToolkit)
{
    EXPECT_EQ(KeyToNote('='), 47) << "the key right of minus reports '=' here";
    EXPECT_EQ(PhysicalKeyToNote(50), 82) << "left Shift";
    EXPECT_EQ(PhysicalKeyToNote(62), 82) << "right Shift";
    EXPECT_EQ(KeyToNote(KEY_SHIFT), 82);
}

TEST(KeyMap, OtherKeysPlayNothing)
{
    // Space, Escape, Back, Delete, Control, Alt, the keypad (Enter, digits,
    // arrows), the arrows and Tab, lower-case letters (never reported).
    for (int code : {32, 27, 8, 127, 308, 307, 370, 324, 325, 376, 378, 314, 316, 9, int('a'), int('z'), 0})
        EXPECT_EQ(KeyToNote(code), 0) << "key code " << code;
    // By place: Escape, Tab, Backspace, Space, Control, Alt, keypad Enter,
    // keypad digits, the ISO key left of Z, the arrows.
    for (unsigned hw : {9u, 23u, 22u, 65u, 37u, 64u, 104u, 87u, 88u, 79u, 90u, 94u, 113u, 114u})
        EXPECT_EQ(PhysicalKeyToNote(hw), 0) << "hardware code " << hw;
}

TEST(KeyMap, PlaceWinsOverTheLayoutsCharacter)
{
    // A German layout reports 'Z' at the US Y place and 'Y' at the US Z
    // place; a French one 'A' at the US Q place. The place decides.
    EXPECT_EQ(NoteOfKey('Z', 29), 53);
    EXPECT_EQ(NoteOfKey('Y', 52), 72);
    EXPECT_EQ(NoteOfKey('A', 24), 48);
    EXPECT_EQ(NoteOfKey('Q', 38), 60);
    // A key that has a place but no note plays nothing, whatever it reports.
    EXPECT_EQ(NoteOfKey('A', 94), 0);
}

TEST(KeyMap, ArrowsMoveTheModWheelByATenthOfItsMaximum)
{
    struct Case {
        int value;
        bool up;
        int expected;
    } cases[] = {
        {0, true, 1638},      // 1638.3 truncated
        {1638, true, 3276},   // 3276.3
        {16000, true, 16383}, // held at the maximum
        {16383, true, 16383},
        {1000, false, 0},     // held at the minimum
        {0, false, 0},
        {16383, false, 14744}, // 14744.7
        {8192, false, 6553},   // 6553.7
    };
    for (const Case& c : cases)
        EXPECT_EQ(ModWheelAfterArrow(c.value, 0, 16383, c.up), c.expected)
            << c.value << (c.up ? " up" : " down");
}

} // namespace
