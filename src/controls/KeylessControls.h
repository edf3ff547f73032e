#pragma once
// Buttons and choices that leave the computer keyboard to the music: they are
// never reached with Tab and hand their key events to their parent window (the
// main window, or a panel or dialog that forwards in turn), so a click on one
// does not stop the note keys from playing. Everything else (items, labels,
// the events sent on clicks and selections) is the toolkit's. GUI thread.

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/choice.h>

// Hands a key event to the parent's own event processing; the event then
// counts as handled or skipped as the parent's handlers left it. Nothing
// happens for a window without a parent.
void ForwardKeyToParent(wxWindow* window, wxKeyEvent& event);

// A choice that leaves the focus where it was when clicked and swallows typed
// characters, so its selection never changes by typing.
class wxKeylessChoice : public wxChoice {
public:
    wxKeylessChoice(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                    const wxArrayString& choices, long style = 0);
    ~wxKeylessChoice() override = default;

    bool AcceptsFocusFromKeyboard() const override { return false; }

private:
    void OnKeyDown(wxKeyEvent& event) { ForwardKeyToParent(this, event); }
    void OnKeyUp(wxKeyEvent& event) { ForwardKeyToParent(this, event); }
    void OnChar(wxKeyEvent&) {}

    wxDECLARE_EVENT_TABLE();
};

// A text button. A click leaves the focus where it was; should it hold the
// focus all the same, its keys go to the parent.
class wxKeylessButton : public wxButton {
public:
    wxKeylessButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos = wxDefaultPosition,
                    const wxSize& size = wxDefaultSize, long style = 0);
    ~wxKeylessButton() override = default;

    bool AcceptsFocusFromKeyboard() const override { return false; }

private:
    void OnKeyDown(wxKeyEvent& event) { ForwardKeyToParent(this, event); }
    void OnKeyUp(wxKeyEvent& event) { ForwardKeyToParent(this, event); }
    void OnChar(wxKeyEvent& event) { ForwardKeyToParent(this, event); }

    wxDECLARE_EVENT_TABLE();
};

// A picture button that never takes the focus, not even on a click.
class wxKeylessBitmapButton : public wxBitmapButton {
public:
    wxKeylessBitmapButton(wxWindow* parent, wxWindowID id, const wxBitmap& bitmap,
                          const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
                          long style = 0);
    ~wxKeylessBitmapButton() override = default;

    bool AcceptsFocus() const override { return false; }
    bool AcceptsFocusFromKeyboard() const override { return false; }

private:
    void OnKeyDown(wxKeyEvent& event) { ForwardKeyToParent(this, event); }
    void OnKeyUp(wxKeyEvent& event) { ForwardKeyToParent(this, event); }
    void OnChar(wxKeyEvent& event) { ForwardKeyToParent(this, event); }

    wxDECLARE_EVENT_TABLE();
};
