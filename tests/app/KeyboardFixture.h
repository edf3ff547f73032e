#pragma once
// A main window on the virtual display, playing into a JACK dummy server of
// its own, with the focus where start-up puts it. Messages are recorded, not
// shown. GUI thread.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

#include <wx/app.h>
#include <wx/stopwatch.h>

#include "app/Keyboard.h"
#include "controls/MessageBox.h"
#include "app/TestProcess.h"
#include "controls/OctaveCtrl.h"
#include "support/GuiTest.h"

// Presses or releases keys through the X server, as a person would.
inline void XKey(const std::string& action, const std::string& keys)
{
    ASSERT_EQ(testproc::Run("xdotool " + action + " " + keys), 0) << action << " " << keys;
}

class KeyboardWindowTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        wxTheApp->SetExitOnFrameDelete(false);
        jack = new testproc::JackServer("app");
        // MIDI ports of another program: the window opens them at start-up
        // instead of saying there are none.
        otherMidi = new testproc::OtherMidiPorts();
    }
    static void TearDownTestSuite()
    {
        delete otherMidi;
        otherMidi = nullptr;
        delete jack;
        jack = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(jack->Ready()) << "no JACK server";
        ASSERT_TRUE(otherMidi->Ready()) << "no other program's MIDI ports";
        SetMessageSink([this](const wxString& text) { messages.push_back(text); });
        window = new wxKeyboard(nullptr);
        window->Show();
        window->Raise();
        ASSERT_TRUE(WaitFor([this] { return window->IsActive(); })) << "window never got the focus";
        PumpEvents(50);
    }

    void TearDown() override
    {
        if (window)
            window->Destroy();
        PumpEvents(50);
        SetMessageSink({});
    }

    wxOctaveCtrl* Octave(int k) const { return window->octaveControls[k]; }
    bool Held(int note) const { return window->Synth().IsKeyDown(note); }
    bool Lit(int note) const { return Octave(OctaveOfNote(note))->IsKeyDown(KeyOfNote(note)); }
    bool NothingHeld() const
    {
        for (int n = 0; n < NUM_NOTES; ++n)
            if (Held(n))
                return false;
        return true;
    }
    bool NothingLit() const
    {
        for (int k = 0; k < NUM_OCTAVES; ++k)
            for (int key = 0; key < KEYS_PER_OCTAVE; ++key)
                if (Octave(k)->IsKeyDown(key))
                    return false;
        return true;
    }

    static testproc::JackServer* jack;
    static testproc::OtherMidiPorts* otherMidi;
    wxKeyboard* window = nullptr;
    std::vector<wxString> messages;
};

inline testproc::JackServer* KeyboardWindowTest::jack = nullptr;
inline testproc::OtherMidiPorts* KeyboardWindowTest::otherMidi = nullptr;
