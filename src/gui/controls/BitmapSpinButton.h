#pragma once
// A small spin button painted from a picture ("spin.bmp", 16 x 22: an up
// arrow over a down arrow). A press on the upper half sends
// wxEVT_SCROLL_LINEUP, on the lower half wxEVT_SCROLL_LINEDOWN, each with the
// control's id, every time, however often one arrow is pressed (the receivers
// keep their own numbers); holding the button repeats. It is never reached
// with Tab and hands its keys to the parent. Without a picture it draws two
// plain arrows (up/down, or left/right for a horizontal style without a
// picture, left stepping down). GUI thread.

#include <wx/image.h>
#include <wx/spinbutt.h>
#include <wx/timer.h>

class wxBitmapSpinButton : public wxSpinButtonBase {
public:
    wxBitmapSpinButton(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                       const wxSize& size = wxSize(16, 22), long style = wxSP_VERTICAL | wxSP_ARROW_KEYS);
    ~wxBitmapSpinButton() override;

    // Copies the picture when given one; no redraw.
    void SetImage(const wxImage* image);
    bool HasImage() const { return image.IsOk(); }

    // The position within the range; it plays no part in the events.
    int GetValue() const override { return position; }
    void SetValue(int value) override;

    bool AcceptsFocusFromKeyboard() const override { return false; }

protected:
    wxSize DoGetBestSize() const override { return bestSize; }

private:
    enum class Arrow { None, Up, Down };
    Arrow ArrowAt(const wxPoint& p) const;
    void Step(Arrow arrow);

    void OnPaint(wxPaintEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnLeave(wxMouseEvent& event);
    void OnRepeat(wxTimerEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnKeyUp(wxKeyEvent& event);

    wxImage image;
    wxSize bestSize;
    int position = 0;
    Arrow pressed = Arrow::None;
    wxTimer repeatTimer;

    wxDECLARE_EVENT_TABLE();
};
