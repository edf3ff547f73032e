#include "BitmapSpinButton.h"

#include <wx/dcbuffer.h>

#include "KeyForwarding.h"
#include "Palette.h"

namespace {
// Holding an arrow steps again after this long, then at the faster rate.
constexpr int kFirstRepeatMs = 450;
constexpr int kRepeatMs = 90;
} // namespace

wxBEGIN_EVENT_TABLE(wxBitmapSpinButton, wxSpinButtonBase)
    EVT_PAINT(wxBitmapSpinButton::OnPaint)
    EVT_LEFT_DOWN(wxBitmapSpinButton::OnLeftDown)
    EVT_LEFT_DCLICK(wxBitmapSpinButton::OnLeftDown)
    EVT_LEFT_UP(wxBitmapSpinButton::OnLeftUp)
    EVT_LEAVE_WINDOW(wxBitmapSpinButton::OnLeave)
    EVT_TIMER(wxID_ANY, wxBitmapSpinButton::OnRepeat)
    EVT_KEY_DOWN(wxBitmapSpinButton::OnKeyDown)
    EVT_KEY_UP(wxBitmapSpinButton::OnKeyUp)
wxEND_EVENT_TABLE()

wxBitmapSpinButton::wxBitmapSpinButton(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                                       long style)
    : bestSize(size), repeatTimer(this)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    wxControl::Create(parent, id, pos, size, style | wxBORDER_NONE, wxDefaultValidator, "wxSpinButton");
    SetCanFocus(false);
}

wxBitmapSpinButton::~wxBitmapSpinButton()
{
    repeatTimer.Stop();
}

void wxBitmapSpinButton::SetImage(const wxImage* image_)
{
    if (image_)
        image = *image_;
}

void wxBitmapSpinButton::SetValue(int value)
{
    position = value < m_min ? m_min : (value > m_max ? m_max : value);
}

wxBitmapSpinButton::Arrow wxBitmapSpinButton::ArrowAt(const wxPoint& p) const
{
    const wxSize size = GetClientSize();
    if (p.x < 0 || p.y < 0 || p.x >= size.GetWidth() || p.y >= size.GetHeight())
        return Arrow::None;
    // The picture shows its arrows one above the other, whatever the style.
    if (!image.IsOk() && !IsVertical())
        return p.x < size.GetWidth() / 2 ? Arrow::Down : Arrow::Up;
    return p.y < size.GetHeight() / 2 ? Arrow::Up : Arrow::Down;
}

void wxBitmapSpinButton::Step(Arrow arrow)
{
    if (arrow == Arrow::None)
        return;
    const bool up = arrow == Arrow::Up;
    if (up)
        position = position < m_max ? position + 1 : (HasFlag(wxSP_WRAP) ? m_min : m_max);
    else
        position = position > m_min ? position - 1 : (HasFlag(wxSP_WRAP) ? m_max : m_min);
    wxSpinEvent event(up ? wxEVT_SCROLL_LINEUP : wxEVT_SCROLL_LINEDOWN, GetId());
    event.SetPosition(position);
    event.SetEventObject(this);
    GetEventHandler()->ProcessEvent(event);
}

void wxBitmapSpinButton::OnPaint(wxPaintEvent&)
{
    wxAutoBufferedPaintDC dc(this);
    const wxSize size = GetClientSize();
    const int w = size.GetWidth();
    const int h = size.GetHeight();
    dc.SetBackground(wxBrush(GetParent() ? GetParent()->GetBackgroundColour() : BackgroundColour()));
    dc.Clear();
    if (image.IsOk()) {
        dc.DrawBitmap(wxBitmap(image), 0, 0, true);
    } else {
        // Plain arrows in the palette's colours.
        dc.SetPen(wxPen(TextColour()));
        dc.SetBrush(wxBrush(TextColour()));
        if (IsVertical()) {
            const int cx = w / 2;
            const wxPoint up[3] = {{cx, h / 4 - 2}, {cx - 4, h / 4 + 2}, {cx + 4, h / 4 + 2}};
            const wxPoint down[3] = {{cx, 3 * h / 4 + 2}, {cx - 4, 3 * h / 4 - 2}, {cx + 4, 3 * h / 4 - 2}};
            dc.DrawPolygon(3, up);
            dc.DrawPolygon(3, down);
        } else {
            const int cy = h / 2;
            const wxPoint left[3] = {{w / 4 - 2, cy}, {w / 4 + 2, cy - 4}, {w / 4 + 2, cy + 4}};
            const wxPoint right[3] = {{3 * w / 4 + 2, cy}, {3 * w / 4 - 2, cy - 4}, {3 * w / 4 - 2, cy + 4}};
            dc.DrawPolygon(3, left);
            dc.DrawPolygon(3, right);
        }
    }
    if (pressed != Arrow::None) {
        // A pressed arrow shows a thin frame round its half.
        dc.SetPen(wxPen(TextColour()));
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        if (!image.IsOk() && !IsVertical())
            dc.DrawRectangle(pressed == Arrow::Down ? 0 : w / 2, 0, w / 2, h);
        else
            dc.DrawRectangle(0, pressed == Arrow::Up ? 0 : h / 2, w, h / 2);
    }
}

void wxBitmapSpinButton::OnLeftDown(wxMouseEvent& event)
{
    pressed = ArrowAt(event.GetPosition());
    if (pressed == Arrow::None)
        return;
    Refresh();
    Step(pressed);
    repeatTimer.StartOnce(kFirstRepeatMs);
    event.Skip(false);
}

void wxBitmapSpinButton::OnLeftUp(wxMouseEvent& event)
{
    repeatTimer.Stop();
    if (pressed != Arrow::None) {
        pressed = Arrow::None;
        Refresh();
    }
    event.Skip();
}

void wxBitmapSpinButton::OnLeave(wxMouseEvent& event)
{
    repeatTimer.Stop();
    if (pressed != Arrow::None) {
        pressed = Arrow::None;
        Refresh();
    }
    event.Skip();
}

void wxBitmapSpinButton::OnRepeat(wxTimerEvent&)
{
    if (pressed == Arrow::None || !wxGetMouseState().LeftIsDown())
        return;
    Step(pressed);
    repeatTimer.StartOnce(kRepeatMs);
}

void wxBitmapSpinButton::OnKeyDown(wxKeyEvent& event)
{
    ForwardKeyToParent(this, event);
}

void wxBitmapSpinButton::OnKeyUp(wxKeyEvent& event)
{
    ForwardKeyToParent(this, event);
}
