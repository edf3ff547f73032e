#pragma once
// The computer keyboard as a piano: sixty keys in five rows, notes 24 to 83,
// one chromatic octave per row (function keys, digits, upper letters, home
// row, lower letters). Pure functions, no display: any thread.
//
// Two ways in. `KeyToNote` takes the toolkit's key code (a letter reports its
// upper-case character, punctuation its unshifted character, Shift 306,
// F1..F12 340..351). `PhysicalKeyToNote` takes the X server's hardware key
// code, so that a German or French layout plays the same notes from the same
// places as a US one; the window prefers it whenever the event carries one.

// Key codes the keyboard handlers act on besides the note keys.
constexpr int KEY_TAB = 9;
constexpr int KEY_RETURN = 13;
constexpr int KEY_SHIFT = 306;
constexpr int KEY_LEFT = 314;
constexpr int KEY_RIGHT = 316;
constexpr int KEY_NUMPAD_LEFT = 376;
constexpr int KEY_NUMPAD_RIGHT = 378;
constexpr int KEY_F1 = 340;

constexpr int LOWEST_KEYBOARD_NOTE = 24;
constexpr int HIGHEST_KEYBOARD_NOTE = 83;

// The note a toolkit key code plays, or 0 for a key that plays nothing. The
// key right of minus plays note 47 whether it reports "+" or "=".
int KeyToNote(int keyCode);

// The note of an X hardware key code (evdev numbering, as the X server and
// GTK report it), or 0. Keys are named by their place on a US keyboard.
int PhysicalKeyToNote(unsigned hardwareKeyCode);

// The note of a key event: by its place when the event carries a hardware
// code, else by its key code (synthetic events carry none).
int NoteOfKey(int keyCode, unsigned hardwareKeyCode);

// The mod wheel after one arrow step: a tenth of the maximum up or down
// (maximum 16383 steps by 1638.3, truncated when stored), held within
// minimum..maximum.
int ModWheelAfterArrow(int value, int minimum, int maximum, bool up);
