#include "ComputerKeyboard.h"

#include <algorithm>

#include "app/Instrument.h"
#include "midi/KeyMap.h"

ComputerKeyboard::ComputerKeyboard(Instrument& instrument) : instrument_(instrument)
{
    std::fill(std::begin(hardware_), std::end(hardware_), kUp);
}

ComputerKeyboard::Action ComputerKeyboard::KeyDown(int keyCode, unsigned hardwareCode, unsigned modifiers)
{
    if (modifiers & kCtrl) {
        if (keyCode == 'S')
            return Action::Save;
        if (keyCode == 'Z')
            return (modifiers & kShift) ? Action::Redo : Action::Undo;
        if (keyCode == 'Y')
            return Action::Redo;
    }
    if (keyCode == KEY_TAB)
        return Action::FocusKeyboard;
    if (keyCode == KEY_RIGHT || keyCode == KEY_NUMPAD_RIGHT)
        return Action::ModWheelUp;
    if (keyCode == KEY_LEFT || keyCode == KEY_NUMPAD_LEFT)
        return Action::ModWheelDown;
    const int note = NoteOfKey(keyCode, hardwareCode);
    // With Ctrl held a key is a command, never a note.
    if (note == 0 || (modifiers & kCtrl))
        return Action::Ignore;
    // Auto-repeat of a key that is down does nothing: neither while its note
    // sounds nor after a click or Panic released it.
    if (!IsDown(note)) {
        hardware_[note] = hardwareCode;
        if (!instrument_.Synth().IsKeyDown(note))
            instrument_.NoteOn(note, false);
    }
    return Action::Note;
}

void ComputerKeyboard::KeyUp(int keyCode, unsigned hardwareCode)
{
    const int note = NoteOfKey(keyCode, hardwareCode);
    if (note != 0)
        Release(note);
}

void ComputerKeyboard::Release(int note)
{
    hardware_[note] = kUp;
    // A note a click or Panic already let go stays silent: releasing it again
    // would sound a short release tail after the key is up.
    if (instrument_.Synth().IsKeyDown(note))
        instrument_.NoteOff(note, false);
}

void ComputerKeyboard::ReleaseAll()
{
    for (int note = 0; note < NUM_NOTES; ++note)
        if (IsDown(note))
            Release(note);
}

void ComputerKeyboard::ReleaseKeysNotPressed(const std::function<bool(unsigned)>& isPressed)
{
    for (int note = 0; note < NUM_NOTES; ++note)
        if (IsDown(note) && hardware_[note] != kSynthetic && !isPressed(hardware_[note]))
            Release(note);
}

bool ComputerKeyboard::AnyDown() const
{
    return std::any_of(std::begin(hardware_), std::end(hardware_), [](unsigned h) { return h != kUp; });
}
