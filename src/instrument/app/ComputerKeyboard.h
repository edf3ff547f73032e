#pragma once
// The computer keyboard as a piano and a remote: which keys are down, and
// what a key event asks for. Sixty keys play notes 24 to 83 (KeyMap.h), Tab
// gives the focus back to the on-screen keys, the Left and Right arrows (also
// the keypad's) step the mod wheel; every other key is ignored. A key pressed
// with Ctrl is a command, never a note (S and Z are note keys): Ctrl+S saves,
// Ctrl+Z undoes, Ctrl+Shift+Z and Ctrl+Y redo. Shift and the other modifiers
// leave the keys as they are. The window's key handlers only translate its
// events into the calls here.
//
// The rules of a held key:
// - a key plays its note once, however often it auto-repeats;
// - a note that a click or Panic released stays silent while its key stays
//   down (the key must come up and go down again), and its key-up then sounds
//   no second release tail;
// - notes whose key is no longer down are released whenever the window can no
//   longer see their key-up: it lost the focus, or a control swallowed it.
//
// GUI thread only.

#include <functional>

#include "synth/SynthState.h"

class Instrument;

class ComputerKeyboard {
public:
    // What a key-down asks the window to do besides playing.
    enum class Action {
        Ignore,        // no key of the instrument: pass the event on
        Note,          // a note key (played or auto-repeat): pass it on
        FocusKeyboard, // Tab: the focus goes to the first octave control
        ModWheelUp,    // Right arrow: the mod wheel one step up
        ModWheelDown,  // Left arrow: one step down
        Save,          // Ctrl+S: save the sound
        Undo,          // Ctrl+Z
        Redo,          // Ctrl+Shift+Z or Ctrl+Y
    };

    // The modifiers of a key event that matter here.
    static constexpr unsigned kCtrl = 1;
    static constexpr unsigned kShift = 2;

    explicit ComputerKeyboard(Instrument& instrument);

    // A key went down (or repeats). hardwareCode is the X server's key code,
    // 0 for a synthetic event, which is then read by its key code. modifiers:
    // kCtrl and kShift as held with the key; a command is read from the key
    // code (the letter of the layout), as desktop programs do.
    Action KeyDown(int keyCode, unsigned hardwareCode, unsigned modifiers = 0);
    // A key came up: its note is released if it still sounds, whatever
    // modifier is held by then.
    void KeyUp(int keyCode, unsigned hardwareCode);
    // Every key counts as up and its note is released: the window lost the
    // focus and will not see the key-ups.
    void ReleaseAll();
    // The notes of keys that `isPressed` says are no longer down are released
    // (their key-up went elsewhere). isPressed takes the key's hardware code;
    // keys known only by a key code (synthetic events) are left alone.
    void ReleaseKeysNotPressed(const std::function<bool(unsigned hardwareCode)>& isPressed);

    bool IsDown(int note) const { return hardware_[note] != kUp; }
    bool AnyDown() const;

    // Whether the window stops the event (true) or passes it on to the
    // control that has the focus.
    static bool Consumes(Action action) { return action != Action::Ignore && action != Action::Note; }

private:
    void Release(int note);

    // For each note, the hardware code of the key holding it, kSynthetic for a
    // key known only by its key code, kUp when no key holds it.
    static constexpr unsigned kUp = ~0u;
    static constexpr unsigned kSynthetic = 0;
    Instrument& instrument_;
    unsigned hardware_[NUM_NOTES];

public:
    ComputerKeyboard(const ComputerKeyboard&) = delete;
    ComputerKeyboard& operator=(const ComputerKeyboard&) = delete;
};
