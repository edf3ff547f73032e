#include "Switch.h"

#include <wx/dcbuffer.h>
#include <wx/renderer.h>

#include "KeyForwarding.h"
#include "SwitchImages.h"

wxBitmap SwitchOnBitmap()
{
    return wxBitmap(switch_on_xpm);
}

wxBitmap SwitchOffBitmap()
{
    return wxBitmap(switch_off_xpm);
}

wxBEGIN_EVENT_TABLE(wxSwitch, wxCheckBoxBase)
    EVT_PAINT(wxSwitch::OnPaint)
    EVT_LEFT_DOWN(wxSwitch::OnLeftDown)
    EVT_LEFT_DCLICK(wxSwitch::OnLeftDown)
    EVT_CHAR(wxSwitch::OnChar)
    EVT_KEY_DOWN(wxSwitch::OnKeyDown)
    EVT_KEY_UP(wxSwitch::OnKeyUp)
    EVT_SET_FOCUS(wxSwitch::OnFocus)
    EVT_KILL_FOCUS(wxSwitch::OnFocus)
wxEND_EVENT_TABLE()

wxSwitch::wxSwitch(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos, const wxSize& size)
    : bestSize(size)
{
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    wxControl::Create(parent, id, pos, size, 0 | wxBORDER_NONE, wxDefaultValidator, "check");
    SetLabel(label);
}

void wxSwitch::SetBitmaps(const wxBitmap* on, const wxBitmap* off)
{
    if (!on || !off)
        return;
    onImage = on->ConvertToImage();
    offImage = off->ConvertToImage();
}

void wxSwitch::SetValue(bool value)
{
    if (value == checked)
        return;
    checked = value;
    Refresh();
}

void wxSwitch::Toggle()
{
    SetValue(!checked);
    wxCommandEvent event(wxEVT_CHECKBOX, GetId());
    event.SetInt(checked ? 1 : 0);
    event.SetEventObject(this);
    GetEventHandler()->ProcessEvent(event);
}

void wxSwitch::OnPaint(wxPaintEvent&)
{
    wxAutoBufferedPaintDC dc(this);
    dc.SetBackground(wxBrush(GetParent() ? GetParent()->GetBackgroundColour() : GetBackgroundColour()));
    dc.Clear();
    if (HasImages()) {
        dc.DrawBitmap(wxBitmap(checked ? onImage : offImage), 0, 0, true);
    } else {
        const wxSize size = GetClientSize();
        const int side = std::min(size.GetWidth(), size.GetHeight()) - 4;
        wxRendererNative::Get().DrawCheckBox(this, dc, wxRect(2, 2, side, side), checked ? static_cast<int>(wxCONTROL_CHECKED) : 0);
    }
    if (HasFocus()) {
        dc.SetPen(wxPen(GetForegroundColour(), 1, wxPENSTYLE_DOT));
        dc.SetBrush(*wxTRANSPARENT_BRUSH);
        dc.DrawRectangle(GetClientRect());
    }
}

void wxSwitch::OnLeftDown(wxMouseEvent&)
{
    if (AcceptsFocus())
        SetFocus();
    Toggle();
}

void wxSwitch::OnChar(wxKeyEvent& event)
{
    if (event.GetKeyCode() == WXK_SPACE)
        Toggle();
    else
        event.Skip();
}

void wxSwitch::OnKeyDown(wxKeyEvent& event)
{
    ForwardKeyToParent(this, event);
}

void wxSwitch::OnKeyUp(wxKeyEvent& event)
{
    ForwardKeyToParent(this, event);
}

void wxSwitch::OnFocus(wxFocusEvent& event)
{
    Refresh();
    event.Skip();
}
