#include "KeyMap.h"

#include <algorithm>
#include <array>

namespace {

// One row per octave, lowest note first.
constexpr int kFirstNotes[5] = {24, 36, 48, 60, 72};

constexpr std::array<std::array<int, 12>, 5> kKeyCodes{{
    {340, 341, 342, 343, 344, 345, 346, 347, 348, 349, 350, 351},  // F1..F12
    {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '-', '+'},  // digits
    {'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I', 'O', 'P', '[', ']'},  // upper letters
    {'A', 'S', 'D', 'F', 'G', 'H', 'J', 'K', 'L', ';', '\'', KEY_RETURN}, // home row
    {'Z', 'X', 'C', 'V', 'B', 'N', 'M', ',', '.', '/', KEY_SHIFT, '\\'}, // lower letters
}};

// The same keys by X hardware code (evdev code + 8). Row by row as above.
constexpr std::array<std::array<unsigned, 12>, 5> kHardwareCodes{{
    {67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 95, 96}, // F1..F12
    {10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}, // 1..0, minus, equals
    {24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35}, // Q..P, brackets
    {38, 39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 36}, // A..L, semicolon, apostrophe, Return
    {52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 50, 51}, // Z..M, comma, period, slash, left Shift, backslash
}};

constexpr unsigned kRightShift = 62;
constexpr int kEquals = '=';

} // namespace

int KeyToNote(int keyCode)
{
    if (keyCode == kEquals)
        return KeyToNote('+');
    for (int row = 0; row < 5; ++row)
        for (int k = 0; k < 12; ++k)
            if (kKeyCodes[row][k] == keyCode)
                return kFirstNotes[row] + k;
    return 0;
}

int PhysicalKeyToNote(unsigned hardwareKeyCode)
{
    if (hardwareKeyCode == kRightShift)
        return PhysicalKeyToNote(50);
    for (int row = 0; row < 5; ++row)
        for (int k = 0; k < 12; ++k)
            if (kHardwareCodes[row][k] == hardwareKeyCode)
                return kFirstNotes[row] + k;
    return 0;
}

int NoteOfKey(int keyCode, unsigned hardwareKeyCode)
{
    return hardwareKeyCode != 0 ? PhysicalKeyToNote(hardwareKeyCode) : KeyToNote(keyCode);
}

int ModWheelAfterArrow(int value, int minimum, int maximum, bool up)
{
    const float step = static_cast<float>(maximum) / 10.0f;
    float next = static_cast<float>(value) + (up ? step : -step);
    next = std::clamp(next, static_cast<float>(minimum), static_cast<float>(maximum));
    return static_cast<int>(next);
}
