#include "BitmapSlider.h"
#include "KeyForwarding.h"

#include <wx/dcbuffer.h>
#include <wx/slider.h>

static_assert(SLIDER_HORIZONTAL == wxSL_HORIZONTAL && SLIDER_VERTICAL == wxSL_VERTICAL &&
              SLIDER_INVERSE == wxSL_INVERSE, "slider style bits");

wxBEGIN_EVENT_TABLE(wxBitmapSlider, wxControl)
    EVT_PAINT(wxBitmapSlider::OnPaint)
    EVT_KEY_DOWN(wxBitmapSlider::OnKeyDown)
    EVT_KEY_UP(wxBitmapSlider::OnKeyUp)
    EVT_LEFT_UP(wxBitmapSlider::OnLeftUp)
    EVT_MOTION(wxBitmapSlider::OnMotion)
    EVT_LEFT_DOWN(wxBitmapSlider::OnLeftDown)
    // The second press of a quick double click arrives only as a double click.
    EVT_LEFT_DCLICK(wxBitmapSlider::OnLeftDown)
    EVT_LEAVE_WINDOW(wxBitmapSlider::OnLeaveWindow)
    EVT_ENTER_WINDOW(wxBitmapSlider::OnEnterWindow)
wxEND_EVENT_TABLE()

wxBitmapSlider::wxBitmapSlider(wxWindow* parent, wxWindowID id, float value_, float minValue_, float maxValue_,
                               const wxPoint& pos, const wxSize& size, long style)
    : sliderStyle(style), value(value_), minValue(minValue_), maxValue(maxValue_), bestSize(size)
{
    // Painted whole through a buffer: no background erase, no flicker.
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Create(parent, id, pos, size, style | wxBORDER_NONE, wxDefaultValidator, "control");
    SetCanFocus(false);
}

void wxBitmapSlider::SetImages(const wxImage* background, const wxImage* indicator)
{
    if (!background || !indicator)
        return;
    backgroundImage = *background;
    indicatorImage = *indicator;
}

void wxBitmapSlider::SetValue(float v)
{
    if (v == GetValue())
        return;
    value.store(v, std::memory_order_relaxed);
    Refresh();
}

SliderGeometry wxBitmapSlider::Geometry() const
{
    SliderGeometry g;
    const wxSize client = GetClientSize();
    g.width = client.GetWidth();
    g.height = client.GetHeight();
    if (IsImageMode()) {
        g.thumbWidth = indicatorImage.GetWidth();
        g.thumbHeight = indicatorImage.GetHeight();
    }
    g.style = sliderStyle;
    g.minValue = minValue;
    g.maxValue = maxValue;
    return g;
}

void wxBitmapSlider::OnPaint(wxPaintEvent& event)
{
    wxAutoBufferedPaintDC dc(this);
    const SliderGeometry g = Geometry();
    const int w = g.width;
    const int h = g.height;
    const float v = GetValue();
    if (IsImageMode()) {
        dc.SetBackground(wxBrush(GetBackgroundColour()));
        dc.Clear();
        dc.DrawBitmap(wxBitmap(backgroundImage), 0, 0, true);
        const wxBitmap thumb(indicatorImage);
        const int p = SliderThumbOffset(g, v);
        if (sliderStyle & wxSL_VERTICAL)
            dc.DrawBitmap(thumb, w / 2 - g.thumbWidth / 2, p, true);
        else if (sliderStyle & wxSL_HORIZONTAL)
            dc.DrawBitmap(thumb, p, h / 2 - g.thumbHeight / 2, true);
    } else {
        dc.SetBackground(wxBrush(GetBackgroundColour()));
        dc.Clear();
        dc.SetBrush(*wxWHITE_BRUSH);
        dc.SetPen(*wxGREEN_PEN);
        const int p = SliderPlainMarkerOffset(g, v);
        if (sliderStyle & wxSL_VERTICAL) {
            dc.DrawLine(w / 2, 0, w / 2, h);
            dc.DrawRectangle(w / 2 - 3, p, 7, 5);
        } else {
            dc.DrawLine(0, h / 2, w, h / 2);
            dc.DrawRectangle(p, h / 2 - 3, 5, 7);
        }
    }
    event.Skip();
}

void wxBitmapSlider::MoveTo(int x, int y)
{
    const float v = SliderValueAt(Geometry(), x, y);
    if (v != GetValue()) {
        value.store(v, std::memory_order_relaxed);
        Refresh();
    }
    SendSliderEvent(wxEVT_SCROLL_CHANGED);
}

void wxBitmapSlider::SendSliderEvent(wxEventType type)
{
    wxScrollEvent event(type, GetId(), SliderEventInt(GetValue()),
                        (sliderStyle & wxSL_VERTICAL) ? wxVERTICAL : wxHORIZONTAL);
    event.SetEventObject(this);
    GetEventHandler()->ProcessEvent(event);
}

void wxBitmapSlider::OnKeyDown(wxKeyEvent& event) { ForwardKeyToParent(this, event); }

void wxBitmapSlider::OnKeyUp(wxKeyEvent& event) { ForwardKeyToParent(this, event); }

void wxBitmapSlider::OnLeftDown(wxMouseEvent& event)
{
    leftDragging = true;
    MoveTo(event.GetX(), event.GetY());
    event.Skip();
}

void wxBitmapSlider::OnMotion(wxMouseEvent& event)
{
    if (leftDragging)
        MoveTo(event.GetX(), event.GetY());
    event.Skip();
}

void wxBitmapSlider::OnLeftUp(wxMouseEvent& event)
{
    if (!leftDragging)
        return;
    leftDragging = false;
    MoveTo(event.GetX(), event.GetY());
    event.Skip();
    SendSliderEvent(wxEVT_SCROLL_THUMBRELEASE);
}

void wxBitmapSlider::OnLeaveWindow(wxMouseEvent& event)
{
    if (leftDragging) {
        leftDragging = false;
        SendSliderEvent(wxEVT_SCROLL_THUMBRELEASE);
    }
    event.Skip();
}

void wxBitmapSlider::OnEnterWindow(wxMouseEvent& event)
{
    if (event.LeftIsDown())
        leftDragging = true;
    event.Skip();
}
