// The main window under a real X server: start-up, the computer keyboard
// through the X server (xdotool), mouse play on the octave controls
// (wxUIActionSimulator), highlights from other threads, focus loss.
#include <algorithm>
#include <thread>

#include <wx/frame.h>
#include <wx/uiaction.h>

#include "app/KeyboardFixture.h"

namespace {

TEST_F(KeyboardWindowTest, StartsWithTheKeyboardFocusedAndNoMessage)
{
    EXPECT_EQ(window->GetId(), 10000);
    EXPECT_EQ(window->GetTitle(), "Marovane");
    const long style = window->GetWindowStyleFlag();
    EXPECT_FALSE(style & wxMAXIMIZE_BOX);
    EXPECT_FALSE(style & wxRESIZE_BORDER);
    EXPECT_TRUE(style & wxWANTS_CHARS);
    EXPECT_TRUE(window->GetExtraStyle() & wxWS_EX_BLOCK_EVENTS);
    for (int k = 0; k < NUM_OCTAVES; ++k) {
        EXPECT_EQ(Octave(k)->GetId(), 10006 + k);
        EXPECT_EQ(Octave(k)->BaseNote(), 24 + 12 * k);
        EXPECT_EQ(Octave(k)->GetSize(), wxSize(137, 99));
    }
    EXPECT_EQ(wxWindow::FindFocus(), Octave(0));
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_TRUE(window->Audio().IsRunning());
    EXPECT_TRUE(NothingLit());
}

// Every key of the table, pressed and released through the X server.
TEST_F(KeyboardWindowTest, EveryKeyOfTheTablePlaysAndStopsItsNote)
{
    const char* rows[5][12] = {
        {"F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8", "F9", "F10", "F11", "F12"},
        {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0", "minus", "equal"},
        {"q", "w", "e", "r", "t", "y", "u", "i", "o", "p", "bracketleft", "bracketright"},
        {"a", "s", "d", "f", "g", "h", "j", "k", "l", "semicolon", "apostrophe", "Return"},
        {"z", "x", "c", "v", "b", "n", "m", "comma", "period", "slash", "Shift_L", "backslash"},
    };
    struct Case {
        std::string key;
        int note;
    };
    std::vector<Case> cases;
    for (int r = 0; r < 5; ++r)
        for (int k = 0; k < 12; ++k)
            cases.push_back({rows[r][k], 24 + 12 * r + k});
    cases.push_back({"Shift_R", 82});

    for (const Case& c : cases) {
        XKey("keydown", c.key);
        EXPECT_TRUE(WaitFor([&] { return Held(c.note) && Lit(c.note); })) << c.key;
        EXPECT_TRUE(window->IsComputerKeyDown(c.note)) << c.key;
        XKey("keyup", c.key);
        EXPECT_TRUE(WaitFor([&] { return !Held(c.note) && !Lit(c.note); })) << c.key;
        EXPECT_EQ(wxWindow::FindFocus(), Octave(0)) << c.key << " moved the focus";
    }
    EXPECT_TRUE(NothingHeld());
}

TEST_F(KeyboardWindowTest, ShiftWithAHeldPlaysBothNotes)
{
    XKey("keydown", "a");
    XKey("keydown", "Shift_L");
    EXPECT_TRUE(WaitFor([&] { return Held(60) && Held(82); }));
    XKey("keyup", "Shift_L");
    EXPECT_TRUE(WaitFor([&] { return !Held(82); }));
    EXPECT_TRUE(Held(60));
    XKey("keyup", "a");
    EXPECT_TRUE(WaitFor([&] { return NothingHeld(); }));
}

TEST_F(KeyboardWindowTest, AGermanLayoutPlaysTheSameNotesFromTheSamePlaces)
{
    const std::string saved = "/tmp/marovane-keymap-" + std::to_string(getpid()) + ".xkb";
    ASSERT_EQ(testproc::Run("xkbcomp \"$DISPLAY\" " + saved), 0);
    ASSERT_EQ(testproc::Run("setxkbmap de"), 0);
    // On this layout "z" sits where a US keyboard has Y, and "y" where it has Z.
    XKey("keydown", "z");
    EXPECT_TRUE(WaitFor([&] { return Held(53); })) << "the place of US Y plays 53";
    XKey("keyup", "z");
    XKey("keydown", "y");
    EXPECT_TRUE(WaitFor([&] { return Held(72); })) << "the place of US Z plays 72";
    XKey("keyup", "y");
    // The keys right of zero and right of P report other characters here.
    XKey("keydown", "dead_acute udiaeresis");
    EXPECT_TRUE(WaitFor([&] { return Held(47) && Held(58); }));
    XKey("keyup", "dead_acute udiaeresis");
    EXPECT_TRUE(WaitFor([&] { return NothingHeld(); }));
    testproc::Run("xkbcomp " + saved + " \"$DISPLAY\"");
    std::remove(saved.c_str());
}

TEST_F(KeyboardWindowTest, KeysThatPlayNothingAreHarmless)
{
    // Escape must not close the instrument; keypad Enter is not Return.
    XKey("key", "space Escape Control_L Alt_L KP_Enter KP_Begin KP_Add");
    PumpEvents(200);
    EXPECT_TRUE(window->IsShown());
    EXPECT_TRUE(NothingHeld());
    EXPECT_TRUE(NothingLit());
}

TEST_F(KeyboardWindowTest, TabAlwaysLandsOnTheFirstOctaveControl)
{
    Octave(4)->SetFocus();
    ASSERT_TRUE(WaitFor([&] { return wxWindow::FindFocus() == Octave(4); }));
    XKey("key", "Tab");
    EXPECT_TRUE(WaitFor([&] { return wxWindow::FindFocus() == Octave(0); }));
    XKey("key", "Tab");
    PumpEvents(100);
    EXPECT_EQ(wxWindow::FindFocus(), Octave(0));
}

TEST_F(KeyboardWindowTest, ArrowsMoveTheModWheel)
{
    XKey("key", "Right");
    EXPECT_TRUE(WaitFor([&] { return window->ModWheelValue() == 1638; }));
    EXPECT_FLOAT_EQ(window->Synth().modWheelDepth, 1638.0f / 16383.0f);
    XKey("key", "KP_Right");
    EXPECT_TRUE(WaitFor([&] { return window->ModWheelValue() == 3276; }));
    XKey("key", "Left KP_Left Left");
    EXPECT_TRUE(WaitFor([&] { return window->ModWheelValue() == 0; }));
    EXPECT_EQ(wxWindow::FindFocus(), Octave(0));
    EXPECT_TRUE(NothingHeld());
}

TEST_F(KeyboardWindowTest, AClickOnAKeyStartsItsNoteAndTheReleaseStopsEveryNote)
{
    wxUIActionSimulator sim;
    window->NoteOn(40, false); // another source's note
    sim.MouseMove(Octave(3)->ClientToScreen(wxPoint(15, 80)));
    PumpEvents(50);
    sim.MouseDown();
    EXPECT_TRUE(WaitFor([&] { return Held(60) && Octave(3)->IsKeyDown(0); }));
    EXPECT_FALSE(Held(61));
    sim.MouseUp();
    EXPECT_TRUE(WaitFor([&] { return NothingHeld(); }));
    EXPECT_TRUE(NothingLit());

    // The upper zone holds the black keys.
    sim.MouseMove(Octave(5)->ClientToScreen(wxPoint(15, 30)));
    PumpEvents(50);
    sim.MouseDown();
    EXPECT_TRUE(WaitFor([&] { return Held(85) && Octave(5)->IsKeyDown(1); }));
    sim.MouseUp();
    EXPECT_TRUE(WaitFor([&] { return NothingHeld() && NothingLit(); }));
}

TEST_F(KeyboardWindowTest, AMouseReleaseOverTheWindowReleasesEveryNote)
{
    XKey("keydown", "a");
    ASSERT_TRUE(WaitFor([&] { return Held(60); }));
    window->NoteOn(100, false);
    wxUIActionSimulator sim;
    sim.MouseMove(window->ClientToScreen(wxPoint(2, 2))); // the margin round the keyboard
    PumpEvents(50);
    sim.MouseDown();
    PumpEvents(50);
    sim.MouseUp();
    EXPECT_TRUE(WaitFor([&] { return NothingHeld() && NothingLit(); }));
    XKey("keyup", "a");
}

TEST_F(KeyboardWindowTest, ARightClickReleasesOneKey)
{
    window->NoteOn(60, false);
    window->NoteOn(64, false);
    wxUIActionSimulator sim;
    sim.MouseMove(Octave(3)->ClientToScreen(wxPoint(50, 80))); // E
    PumpEvents(50);
    sim.MouseClick(wxMOUSE_BTN_RIGHT);
    EXPECT_TRUE(WaitFor([&] { return !Held(64) && !Octave(3)->IsKeyDown(4); }));
    EXPECT_TRUE(Held(60));
    EXPECT_TRUE(Octave(3)->IsKeyDown(0));
}

TEST_F(KeyboardWindowTest, HighlightsFromAnotherThreadArriveOnTheGuiThread)
{
    std::thread midi([this] {
        window->NoteOn(62, true);
        window->NoteOn(64, true);
        window->NoteOff(64, true);
    });
    midi.join();
    // The note table changed at once; the display waits for the GUI thread.
    EXPECT_TRUE(Held(62));
    EXPECT_FALSE(Octave(3)->IsKeyDown(2));
    EXPECT_TRUE(WaitFor([&] { return Octave(3)->IsKeyDown(2); }));
    EXPECT_FALSE(Octave(3)->IsKeyDown(4));

    std::thread panic([this] { window->AllNotesOff(true); });
    panic.join();
    EXPECT_FALSE(Held(62));
    EXPECT_TRUE(WaitFor([&] { return NothingLit(); }));
}

TEST_F(KeyboardWindowTest, ANoteHeldWhenTheWindowLosesTheFocusIsReleased)
{
    XKey("keydown", "a");
    ASSERT_TRUE(WaitFor([&] { return Held(60); }));
    window->NoteOn(72, false); // held by the mouse, say: not the keyboard's to release

    auto* other = new wxFrame(nullptr, wxID_ANY, "Another program");
    other->Show();
    PumpEvents(100);
    // The window manager moves the focus, as a click elsewhere would.
    std::string id;
    ASSERT_TRUE(WaitFor([&] {
        id = testproc::Output("xdotool search --onlyvisible --name '^Another program$'");
        return !id.empty();
    }));
    testproc::Run("xdotool windowactivate " + id.substr(0, id.find('\n')));
    EXPECT_TRUE(WaitFor([&] { return !window->IsActive(); }));
    EXPECT_TRUE(WaitFor([&] { return !Held(60) && !Lit(60); })) << "note 60 sticks";
    EXPECT_TRUE(Held(72));
    EXPECT_FALSE(window->IsComputerKeyDown(60));
    // Its key-up goes to the other window.
    XKey("keyup", "a");
    other->Destroy();
    PumpEvents(100);
    EXPECT_FALSE(Held(60));
}

} // namespace

namespace {

// The window's own X id, for the window manager's commands.
std::string WindowId(const wxString& title)
{
    std::string id;
    WaitFor([&] {
        id = testproc::Output("xdotool search --onlyvisible --name '^" + title.ToStdString() + "$'");
        return !id.empty();
    });
    return id.substr(0, id.find('\n'));
}

class NotesTest : public KeyboardWindowTest {
protected:
    void MonitorMidi()
    {
        window->SetMidiOutputEnabled(true);
        window->SetMidiMonitor([this](const std::vector<uint8_t>& m) { sent.push_back(m); });
    }
    int Count(const std::vector<uint8_t>& m) const { return static_cast<int>(std::count(sent.begin(), sent.end(), m)); }
    // Another program takes the focus, then this window gets it back.
    void SwitchAwayAndBack()
    {
        auto* other = new wxFrame(nullptr, wxID_ANY, "Another program");
        other->Show();
        testproc::Run("xdotool windowactivate " + WindowId("Another program"));
        ASSERT_TRUE(WaitFor([&] { return !window->IsActive(); }));
        testproc::Run("xdotool windowactivate " + WindowId("Marovane"));
        ASSERT_TRUE(WaitFor([&] { return window->IsActive(); }));
        other->Destroy();
        PumpEvents(100);
    }

    std::vector<std::vector<uint8_t>> sent;
};

TEST_F(NotesTest, AQuickSecondClickOnAKeyStillSounds)
{
    MonitorMidi();
    wxUIActionSimulator sim;
    sim.MouseMove(Octave(3)->ClientToScreen(wxPoint(15, 80)));
    PumpEvents(50);
    // GTK reports the second press of a double click only as a double click.
    sim.MouseDblClick();
    EXPECT_TRUE(WaitFor([&] { return Count({0x80, 60, 0}) == 2; }));
    EXPECT_EQ(Count({0x90, 60, 127}), 2) << "the second click was lost";
    EXPECT_TRUE(NothingHeld());
}

TEST_F(NotesTest, APreviewNeverTakesTheKeyboard)
{
    wxUIActionSimulator sim;
    for (int id : {10033, 10034}) {
        SCOPED_TRACE(id);
        wxWindow* preview = window->FindWindow(id);
        sim.MouseMove(preview->ClientToScreen(wxPoint(60, 50)));
        PumpEvents(30);
        sim.MouseClick();
        PumpEvents(100);
        EXPECT_EQ(wxWindow::FindFocus(), Octave(0)) << "the preview took the focus";
        XKey("keydown", "a");
        EXPECT_TRUE(WaitFor([&] { return Held(60); }));
        XKey("keyup", "a");
        EXPECT_TRUE(WaitFor([&] { return !Held(60); }));
    }
}

TEST_F(NotesTest, AKeyLitFromAnotherThreadDoesNotOutliveAClearOnTheGuiThread)
{
    for (int round = 0; round < 5; ++round) {
        std::thread midi([this] { window->NoteOn(62, true); });
        midi.join();
        // Released here before the GUI thread saw the highlight.
        window->AllNotesOff(false);
        PumpEvents(60);
        EXPECT_FALSE(Held(62));
        EXPECT_FALSE(Lit(62)) << "round " << round;
    }
}

// A key-up that the zoom slider (a toolkit slider) swallowed while the mouse
// held it must not leave its note on.
TEST_F(NotesTest, AKeyReleasedWhileTheMouseHoldsTheZoomSliderEndsItsNote)
{
    SwitchAwayAndBack();
    XKey("keydown", "a");
    ASSERT_TRUE(WaitFor([&] { return Held(60); }));
    wxWindow* zoom = window->FindWindow(ID_ZOOM_SLIDER);
    wxUIActionSimulator sim;
    sim.MouseMove(zoom->ClientToScreen(wxPoint(zoom->GetClientSize().x / 2, 30)));
    PumpEvents(50);
    sim.MouseDown();
    PumpEvents(100);
    XKey("keyup", "a");
    PumpEvents(100);
    sim.MouseUp();
    EXPECT_TRUE(WaitFor([&] { return !Held(60) && !Lit(60); })) << "note 60 sticks";
    EXPECT_FALSE(window->IsComputerKeyDown(60));
    EXPECT_TRUE(WaitFor([&] { return wxWindow::FindFocus() == Octave(0); }));
}

TEST_F(NotesTest, AKeyHeldWithTheMouseEndsWhenTheWindowIsMinimised)
{
    window->NoteOn(100, true); // MIDI input's: left alone
    wxUIActionSimulator sim;
    sim.MouseMove(Octave(3)->ClientToScreen(wxPoint(15, 80)));
    PumpEvents(50);
    sim.MouseDown();
    ASSERT_TRUE(WaitFor([&] { return Held(60) && Lit(60); }));
    testproc::Run("xdotool windowminimize " + WindowId("Marovane"));
    ASSERT_TRUE(WaitFor([&] {
        return window->IsIconized() &&
               testproc::Output("xdotool search --onlyvisible --name '^Marovane$'").empty();
    }));
    // The button is still down, but no release of it can reach the key now.
    EXPECT_TRUE(WaitFor([&] { return !Held(60); })) << "the note sticks";
    EXPECT_TRUE(Held(100));
    EXPECT_TRUE(Lit(100));
    sim.MouseUp();
    PumpEvents(50);
    window->Iconize(false);
    window->Raise();
    ASSERT_TRUE(WaitFor([&] { return !window->IsIconized(); }));
    PumpEvents(100);
    EXPECT_FALSE(Held(60));
    EXPECT_FALSE(Lit(60)) << "its key is still drawn down";
}

} // namespace
