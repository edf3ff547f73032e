#pragma once
// A stand-in for the main window in the controls' GUI tests: a shown, raised
// frame that records the key, scroll, spin and button events reaching it, a
// child that can hold the keyboard focus (as the octave controls do), and
// helpers that drive the real mouse through the X server.
#include <gtest/gtest.h>

#include <vector>

#include <wx/frame.h>
#include <wx/image.h>
#include <wx/uiaction.h>

#include "controls/Palette.h"
#include "controls/ResourcePath.h"
#include "support/GuiTest.h"

struct RecordedEvent {
    wxEventType type;
    int id;
    int intValue;
};

// Holds the focus like an octave control and records the keys it receives.
class KeyTarget : public wxWindow {
public:
    explicit KeyTarget(wxWindow* parent) : wxWindow(parent, wxID_ANY, wxPoint(0, 0), wxSize(40, 40))
    {
        Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& e) { keys.push_back(e.GetKeyCode()); });
    }
    bool AcceptsFocus() const override { return true; }
    std::vector<int> keys;
};

class TestMainWindow : public wxFrame {
public:
    TestMainWindow() : wxFrame(nullptr, wxID_ANY, "controls under test", wxPoint(30, 30), wxSize(1000, 760))
    {
        SetBackgroundColour(BackgroundColour());
        focusTarget = new KeyTarget(this);
        Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& e) { keyDowns.push_back(e.GetKeyCode()); });
        Bind(wxEVT_KEY_UP, [this](wxKeyEvent& e) { keyUps.push_back(e.GetKeyCode()); });
        Record(wxEVT_SCROLL_CHANGED);
        Record(wxEVT_SCROLL_THUMBRELEASE);
        Record(wxEVT_SCROLL_LINEUP);
        Record(wxEVT_SCROLL_LINEDOWN);
        Record(wxEVT_BUTTON);
        Record(wxEVT_CHECKBOX);
        Record(wxEVT_CHOICE);
    }

    template <typename Tag>
    void Record(const Tag& tag)
    {
        Bind(tag, [this](typename Tag::EventClass& e) {
            events.push_back({e.GetEventType(), e.GetId(), e.GetInt()});
            e.Skip();
        });
    }

    int Count(wxEventType type) const
    {
        int n = 0;
        for (const RecordedEvent& e : events)
            n += e.type == type;
        return n;
    }

    KeyTarget* focusTarget;
    std::vector<int> keyDowns;
    std::vector<int> keyUps;
    std::vector<RecordedEvent> events;
};

class ControlsGuiTest : public testing::Test {
protected:
    void SetUp() override
    {
        frame = new TestMainWindow;
    }
    // Shows the frame once its controls exist and gives the focus to the
    // keyboard stand-in.
    void ShowFrame()
    {
        frame->Show();
        frame->Raise();
        PumpEvents(300);
        frame->focusTarget->SetFocus();
        PumpEvents(100);
    }
    void TearDown() override
    {
        wxUIActionSimulator sim;
        sim.MouseUp(wxMOUSE_BTN_LEFT);
        frame->Destroy();
        PumpEvents(50);
    }

    // The real pointer, through the X server, in a window's client pixels.
    void MoveTo(wxWindow* w, int x, int y, int settleMs = 40)
    {
        sim.MouseMove(w->ClientToScreen(wxPoint(x, y)));
        PumpEvents(settleMs);
    }
    void Press(wxMouseButton b = wxMOUSE_BTN_LEFT)
    {
        sim.MouseDown(b);
        PumpEvents(40);
    }
    void Release(wxMouseButton b = wxMOUSE_BTN_LEFT)
    {
        sim.MouseUp(b);
        PumpEvents(40);
    }
    void ClickAt(wxWindow* w, int x, int y, wxMouseButton b = wxMOUSE_BTN_LEFT)
    {
        MoveTo(w, x, y);
        Press(b);
        Release(b);
    }
    static wxImage LoadResource(const char* name)
    {
        wxImage image;
        image.LoadFile(ResourcePath(name), wxBITMAP_TYPE_BMP);
        return image;
    }

    TestMainWindow* frame = nullptr;
    wxUIActionSimulator sim;
};
