#pragma once
// The slider of the envelope, LFO and wheel controls: a track picture with a
// thumb picture (or, without pictures, a plain line with a small marker), a
// float value set by dragging with the left button, and scroll events to the
// parent while it moves: wxEVT_SCROLL_CHANGED for every position the value
// follows, wxEVT_SCROLL_THUMBRELEASE when a drag ends. It never takes the
// focus and hands every key to its parent, so a click on it does not stop the
// computer keyboard from playing.
//
// Threads: everything on the GUI thread, except GetValue, which any thread may
// read (the value is one float, written whole).

#include <atomic>

#include <wx/control.h>
#include <wx/image.h>
#include <wx/slider.h> // the wxSL_ style bits

#include "controls/SliderMath.h"

class wxBitmapSlider : public wxControl {
public:
    // style: wxSL_HORIZONTAL or wxSL_VERTICAL, optionally with wxSL_INVERSE
    // (the value grows toward the top or the left). The value is not clamped.
    wxBitmapSlider(wxWindow* parent, wxWindowID id, float value, float minValue, float maxValue,
                   const wxPoint& pos, const wxSize& size, long style);
    ~wxBitmapSlider() override = default;

    // Copies both pictures when both pointers are given; otherwise keeps the
    // old ones. Both valid: image mode; else plain mode. No redraw.
    void SetImages(const wxImage* background, const wxImage* indicator);

    // Stores the value and repaints if it differs; sends nothing.
    void SetValue(float v);
    float GetValue() const { return value.load(std::memory_order_relaxed); }
    float GetMin() const { return minValue; }
    float GetMax() const { return maxValue; }
    bool IsDragging() const { return leftDragging; }
    bool IsImageMode() const { return backgroundImage.IsOk() && indicatorImage.IsOk(); }

    bool AcceptsFocus() const override { return false; }
    bool AcceptsFocusFromKeyboard() const override { return false; }
    // Takes the background colour of the window it sits on.
    bool ShouldInheritColours() const override { return true; }

    // The geometry the mouse mapping and the drawing use right now.
    SliderGeometry Geometry() const;

protected:
    wxSize DoGetBestSize() const override { return bestSize; }

private:
    void MoveTo(int x, int y);
    void SendSliderEvent(wxEventType type);

    void OnPaint(wxPaintEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnKeyUp(wxKeyEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnLeaveWindow(wxMouseEvent& event);
    void OnEnterWindow(wxMouseEvent& event);

    wxImage backgroundImage;
    wxImage indicatorImage;
    bool leftDragging = false;
    long sliderStyle;
    std::atomic<float> value;
    float minValue;
    float maxValue;
    wxSize bestSize;

    wxDECLARE_EVENT_TABLE();
};
