#include "MiniWavePanel.h"

#include <algorithm>
#include <cstring>

#include <wx/dcclient.h>

#include "Palette.h"

wxBEGIN_EVENT_TABLE(wxMiniWavePanel, wxPanel)
    EVT_PAINT(wxMiniWavePanel::OnPaint)
wxEND_EVENT_TABLE()

wxMiniWavePanel::wxMiniWavePanel(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : width(size.GetWidth()), height(size.GetHeight())
{
    // One sample per pixel column: the panel is never wider than a cycle.
    width = std::clamp(width, 0, PREVIEW_LENGTH);
    Create(parent, id, pos, size, wxNO_BORDER | wxWANTS_CHARS, "panel");
    SetCanFocus(false);
    SetBackgroundColour(EditorBackgroundColour());
}

void wxMiniWavePanel::SetWaveData(const float* samples_)
{
    std::memcpy(samples, samples_, sizeof(float) * static_cast<size_t>(width));
    Refresh(true);
}

void wxMiniWavePanel::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    dc.SetPen(wxPen(wxColour(102, 51, 0), 1, wxPENSTYLE_SOLID));
    dc.DrawLine(0, height / 2, width, height / 2);

    const wxColour trace(224, 224, 0);
    dc.SetPen(wxPen(trace, 1, wxPENSTYLE_SOLID));
    dc.SetBrush(wxBrush(trace, wxBRUSHSTYLE_SOLID));
    if (width < 1)
        return;
    int previous = PreviewRow(samples[0], height);
    dc.DrawPoint(0, previous);
    for (int x = 0; x < width; ++x) {
        const int row = PreviewRow(samples[x], height);
        dc.DrawLine(x - 1, previous, x, row);
        previous = row;
    }
}
