#pragma once
// An on/off switch painted from two pictures: green when on, grey when off (the
// built-in SwitchOnBitmap and SwitchOffBitmap). A click toggles it and sends
// wxEVT_CHECKBOX with the control's id, like a check box; it may hold the
// focus inside its dialog (Space then toggles it) but hands its key-down and
// key-up events to the parent first. Without pictures it draws a plain check
// box. GUI thread.

#include <wx/checkbox.h>
#include <wx/image.h>

// The built-in pictures: on 20 x 21 in shades of green, off 20 x 20 in shades
// of grey, both with a transparent surround.
wxBitmap SwitchOnBitmap();
wxBitmap SwitchOffBitmap();

class wxSwitch : public wxCheckBoxBase {
public:
    wxSwitch(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos = wxDefaultPosition,
             const wxSize& size = wxSize(22, 22));
    ~wxSwitch() override = default;

    // Takes both pictures when both are given; otherwise changes nothing.
    void SetBitmaps(const wxBitmap* on, const wxBitmap* off);
    bool HasImages() const { return onImage.IsOk() && offImage.IsOk(); }

    void SetValue(bool value) override;
    bool GetValue() const override { return checked; }

protected:
    wxSize DoGetBestSize() const override { return bestSize; }

private:
    void Toggle();
    void OnPaint(wxPaintEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnChar(wxKeyEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnKeyUp(wxKeyEvent& event);
    void OnFocus(wxFocusEvent& event);

    wxImage onImage;
    wxImage offImage;
    wxSize bestSize;
    bool checked = false;

    wxDECLARE_EVENT_TABLE();
};

// A switch that never takes the focus, not even on a click, so the computer
// keyboard stays with the music (as the keyless controls, KeylessControls.h):
// only the mouse toggles it.
class wxKeylessSwitch : public wxSwitch {
public:
    using wxSwitch::wxSwitch;
    bool AcceptsFocus() const override { return false; }
    bool AcceptsFocusFromKeyboard() const override { return false; }
};
