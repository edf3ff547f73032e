// The computer keyboard's rules without a window: what each key asks for,
// auto-repeat, keys held through a click or Panic, and keys whose key-up the
// window never sees.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "app/ComputerKeyboard.h"
#include "app/Instrument.h"
#include "midi/KeyMap.h"

namespace {

using Message = std::vector<uint8_t>;
using Action = ComputerKeyboard::Action;

// X hardware codes of a few keys (evdev + 8).
constexpr unsigned kHwA = 38, kHwS = 39, kHwShiftL = 50, kHwZ = 52;

class ComputerKeyboardTest : public testing::Test {
protected:
    NoDisplay display;
    std::unique_ptr<Instrument> instrument = std::make_unique<Instrument>(display, display);
    ComputerKeyboard keys{*instrument};
    std::vector<Message> sent;

    void SetUp() override
    {
        instrument->SetMidiOutputEnabled(true);
        instrument->SetMidiMonitor([this](const Message& m) { sent.push_back(m); });
    }
    bool Held(int note) const { return instrument->Synth().IsKeyDown(note); }
    int Count(const Message& m) const { return static_cast<int>(std::count(sent.begin(), sent.end(), m)); }
};

// Ctrl with a key is a command and never a note, though S and Z are note keys;
// Shift keeps every key's note.
TEST_F(ComputerKeyboardTest, CtrlMakesACommandShiftKeepsTheNote)
{
    constexpr unsigned kHwY = 29;
    constexpr unsigned ctrl = ComputerKeyboard::kCtrl, shift = ComputerKeyboard::kShift;
    struct Case {
        const char* name;
        int code;
        unsigned hardware;
        unsigned modifiers;
        Action action;
        int note; // played, or 0
    };
    const Case cases[] = {
        {"Ctrl+S", 'S', kHwS, ctrl, Action::Save, 0},
        {"Ctrl+Z", 'Z', kHwZ, ctrl, Action::Undo, 0},
        {"Ctrl+Shift+Z", 'Z', kHwZ, ctrl | shift, Action::Redo, 0},
        {"Ctrl+Y", 'Y', kHwY, ctrl, Action::Redo, 0},
        {"Ctrl+Shift+S", 'S', kHwS, ctrl | shift, Action::Save, 0},
        {"Ctrl+A", 'A', kHwA, ctrl, Action::Ignore, 0},
        {"Ctrl+F1", KEY_F1, 67, ctrl, Action::Ignore, 0},
        {"Ctrl+Z, synthetic", 'Z', 0, ctrl, Action::Undo, 0},
        {"S", 'S', kHwS, 0, Action::Note, 61},
        {"Shift+S", 'S', kHwS, shift, Action::Note, 61},
        {"Shift+Z", 'Z', kHwZ, shift, Action::Note, 72},
        {"Y", 'Y', kHwY, 0, Action::Note, 53},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sent.clear();
        EXPECT_EQ(keys.KeyDown(c.code, c.hardware, c.modifiers), c.action);
        if (c.note) {
            EXPECT_TRUE(Held(c.note));
            EXPECT_EQ(sent, (std::vector<Message>{{0x90, static_cast<uint8_t>(c.note), 127}}));
            keys.KeyUp(c.code, c.hardware);
        } else {
            EXPECT_FALSE(keys.AnyDown());
            EXPECT_TRUE(sent.empty()) << "a command played or sent something";
        }
        EXPECT_FALSE(keys.AnyDown());
    }
    for (int n = 0; n < NUM_NOTES; ++n)
        EXPECT_FALSE(Held(n)) << n;
}

// A note key held when Ctrl goes down keeps its note through the auto-repeats
// that now carry Ctrl, and its key-up with Ctrl still held releases it.
TEST_F(ComputerKeyboardTest, KeyUpWithCtrlHeldStillReleases)
{
    EXPECT_EQ(keys.KeyDown('S', kHwS), Action::Note);
    ASSERT_TRUE(Held(61));
    EXPECT_EQ(keys.KeyDown('S', kHwS, ComputerKeyboard::kCtrl), Action::Save);
    EXPECT_EQ(keys.KeyDown('A', kHwA, ComputerKeyboard::kCtrl), Action::Ignore);
    EXPECT_TRUE(Held(61)) << "a command let the held note go";
    EXPECT_FALSE(Held(60));
    keys.KeyUp('S', kHwS);
    EXPECT_FALSE(Held(61));
    EXPECT_FALSE(keys.AnyDown());
    EXPECT_EQ(Count({0x80, 61, 0}), 1);
}

TEST_F(ComputerKeyboardTest, EachKeyAsksForItsAction)
{
    struct Case {
        const char* name;
        int code;
        unsigned hardware;
        Action action;
        int note; // played, or 0
    };
    const Case cases[] = {
        {"Tab", KEY_TAB, 23, Action::FocusKeyboard, 0},
        {"Right", KEY_RIGHT, 114, Action::ModWheelUp, 0},
        {"keypad Right", KEY_NUMPAD_RIGHT, 85, Action::ModWheelUp, 0},
        {"Left", KEY_LEFT, 113, Action::ModWheelDown, 0},
        {"keypad Left", KEY_NUMPAD_LEFT, 83, Action::ModWheelDown, 0},
        {"A", 'A', kHwA, Action::Note, 60},
        {"A, synthetic", 'A', 0, Action::Note, 60},
        {"F1", KEY_F1, 67, Action::Note, 24},
        {"left Shift", KEY_SHIFT, kHwShiftL, Action::Note, 82},
        {"Return", KEY_RETURN, 36, Action::Note, 71},
        {"Space", ' ', 65, Action::Ignore, 0},
        {"Escape", 27, 9, Action::Ignore, 0},
        {"keypad Enter", 370, 104, Action::Ignore, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sent.clear();
        EXPECT_EQ(keys.KeyDown(c.code, c.hardware), c.action);
        EXPECT_EQ(ComputerKeyboard::Consumes(c.action), c.action != Action::Note && c.action != Action::Ignore);
        if (c.note) {
            EXPECT_TRUE(Held(c.note));
            EXPECT_TRUE(keys.IsDown(c.note));
            EXPECT_EQ(sent, (std::vector<Message>{{0x90, static_cast<uint8_t>(c.note), 127}}));
            keys.KeyUp(c.code, c.hardware);
            EXPECT_FALSE(Held(c.note));
            EXPECT_FALSE(keys.IsDown(c.note));
        } else {
            EXPECT_TRUE(sent.empty()) << "a key that plays nothing sent something";
        }
    }
    EXPECT_FALSE(keys.AnyDown());
}

TEST_F(ComputerKeyboardTest, AutoRepeatPlaysTheNoteOnce)
{
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(keys.KeyDown('A', kHwA), Action::Note);
    EXPECT_EQ(Count({0x90, 60, 127}), 1);
    keys.KeyUp('A', kHwA);
    EXPECT_EQ(Count({0x80, 60, 0}), 1);
}

TEST_F(ComputerKeyboardTest, AKeyHeldThroughAReleaseOfEveryNoteStaysSilent)
{
    keys.KeyDown('A', kHwA);
    instrument->AllNotesOff(false); // a click on the window, or Panic
    ASSERT_FALSE(Held(60));
    sent.clear();
    keys.KeyDown('A', kHwA); // auto-repeat
    EXPECT_FALSE(Held(60)) << "auto-repeat restarted the note";
    keys.KeyUp('A', kHwA);
    EXPECT_TRUE(sent.empty()) << "the key-up released the silent note again";
    // The key pressed again plays.
    keys.KeyDown('A', kHwA);
    EXPECT_TRUE(Held(60));
}

TEST_F(ComputerKeyboardTest, ShiftWithAHeldPlaysBothAndReleasesEachOnItsOwn)
{
    keys.KeyDown('A', kHwA);
    keys.KeyDown(KEY_SHIFT, kHwShiftL);
    EXPECT_TRUE(Held(60));
    EXPECT_TRUE(Held(82));
    keys.KeyUp(KEY_SHIFT, kHwShiftL);
    EXPECT_FALSE(Held(82));
    EXPECT_TRUE(Held(60));
}

TEST_F(ComputerKeyboardTest, ReleaseAllLetsEveryKeyGoButLeavesOtherNotes)
{
    keys.KeyDown('A', kHwA);
    keys.KeyDown('S', kHwS);
    instrument->NoteOn(100, true); // MIDI input's
    instrument->NoteOn(30, false); // the mouse's
    ASSERT_TRUE(Held(61));
    keys.ReleaseAll();
    EXPECT_FALSE(Held(60));
    EXPECT_FALSE(Held(61));
    EXPECT_TRUE(Held(100));
    EXPECT_TRUE(Held(30));
    EXPECT_FALSE(keys.AnyDown());
}

TEST_F(ComputerKeyboardTest, KeysTheServerNoLongerHasDownAreReleased)
{
    keys.KeyDown('A', kHwA);
    keys.KeyDown('Z', kHwZ);
    keys.KeyDown('S', 0); // synthetic: no hardware code to ask about
    instrument->NoteOn(100, true);
    const std::set<unsigned> pressed = {kHwZ};
    std::vector<unsigned> asked;
    keys.ReleaseKeysNotPressed([&](unsigned hw) {
        asked.push_back(hw);
        return pressed.count(hw) > 0;
    });
    EXPECT_FALSE(Held(60)) << "A is up on the server";
    EXPECT_FALSE(keys.IsDown(60));
    EXPECT_TRUE(Held(72)) << "Z is still down";
    EXPECT_TRUE(Held(61)) << "a synthetic key is left alone";
    EXPECT_TRUE(Held(100)) << "MIDI input's note is left alone";
    EXPECT_EQ(asked, (std::vector<unsigned>{kHwA, kHwZ}));
}

} // namespace
