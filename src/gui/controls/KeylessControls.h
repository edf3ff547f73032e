#pragma once
// Buttons and choices that leave the computer keyboard to the music: they are
// never reached with Tab and hand their key events to their parent window (the
// main window, or a panel or dialog that forwards in turn), so a click on one
// does not stop the note keys from playing. Everything else (items, labels,
// the events sent on clicks and selections) is the toolkit's. GUI thread.

#include <wx/bmpbuttn.h>
#include <wx/button.h>
#include <wx/choice.h>

#include "KeyForwarding.h"

// What a keyless control does with typed characters.
enum class TypedChars { ToParent, Swallowed };

// The shared part: key-down and key-up go to the parent, characters to the
// parent or nowhere, and Tab never lands here.
template <class Control>
class wxKeyless : public Control {
public:
    bool AcceptsFocusFromKeyboard() const override { return false; }

protected:
    explicit wxKeyless(TypedChars chars)
    {
        this->Bind(wxEVT_KEY_DOWN, &wxKeyless::ForwardKey, this);
        this->Bind(wxEVT_KEY_UP, &wxKeyless::ForwardKey, this);
        if (chars == TypedChars::ToParent)
            this->Bind(wxEVT_CHAR, &wxKeyless::ForwardKey, this);
        else
            this->Bind(wxEVT_CHAR, [](wxKeyEvent&) {});
    }

private:
    void ForwardKey(wxKeyEvent& event) { ForwardKeyToParent(this, event); }
};

// A choice that leaves the focus where it was when clicked and swallows typed
// characters, so its selection never changes by typing.
// Given colours, the whole box takes them, face, text and arrow alike (GTK
// on its own colours only the text's area, a dark block inside a white box).
class wxKeylessChoice : public wxKeyless<wxChoice> {
public:
    wxKeylessChoice(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                    const wxArrayString& choices, long style = 0);
    ~wxKeylessChoice() override;

    bool SetForegroundColour(const wxColour& colour) override;
    bool SetBackgroundColour(const wxColour& colour) override;

private:
    void ColourWholeBox();
    void* boxStyle = nullptr; // the style sheet of the box's insides, once coloured
};

// A text button. A click leaves the focus where it was; should it hold the
// focus all the same, its keys go to the parent.
class wxKeylessButton : public wxKeyless<wxButton> {
public:
    wxKeylessButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos = wxDefaultPosition,
                    const wxSize& size = wxDefaultSize, long style = 0);
};

// A picture button that never takes the focus, not even on a click.
class wxKeylessBitmapButton : public wxKeyless<wxBitmapButton> {
public:
    wxKeylessBitmapButton(wxWindow* parent, wxWindowID id, const wxBitmap& bitmap,
                          const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize,
                          long style = 0);

    bool AcceptsFocus() const override { return false; }
};
