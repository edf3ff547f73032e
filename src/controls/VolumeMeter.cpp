#include "VolumeMeter.h"

#include <wx/time.h>

namespace {

// The bar's colours: orange in a brown frame, and red in a red frame for an
// overload. The bar takes the control's background colour and the frame its
// foreground colour (the toolkit styles the whole control with them); the
// trough's own rule below keeps the inside dark.
const wxColour kBarColour(255, 153, 0);
const wxColour kFrameColour(153, 77, 0);
const wxColour kClipColour(230, 0, 0);

} // namespace

wxBEGIN_EVENT_TABLE(wxVolumeMeter, wxGauge)
    EVT_TIMER(wxID_ANY, wxVolumeMeter::OnTimer)
wxEND_EVENT_TABLE()

wxVolumeMeter::wxVolumeMeter(wxWindow* parent, wxWindowID id, int range, const wxPoint& pos, const wxSize& size,
                             long style)
    : pollTimer(this)
{
    Create(parent, id, range, pos, size, style | wxGA_HORIZONTAL, wxDefaultValidator, "gauge");
#ifdef __WXGTK3__
    // In the instrument's colours rather than the desktop theme's: an orange
    // bar in a near-black trough with a thin brown frame, as tall as the
    // control.
    GTKApplyCssStyle("progressbar, progressbar trough {"
                     " min-height: 0; min-width: 0; padding: 0; margin: 0; }"
                     "progressbar { background-color: transparent; }"
                     "progressbar trough {"
                     " background-color: #221100; background-image: none;"
                     " border: 1px solid currentColor; border-radius: 0; }"
                     "progressbar progress {"
                     " background-image: none;"
                     " border: none; border-radius: 0; min-height: 8px; margin: 0; }");
#endif
    SetBackgroundColour(kBarColour);
    SetForegroundColour(kFrameColour);
}

wxVolumeMeter::~wxVolumeMeter()
{
    pollTimer.Stop();
}

void wxVolumeMeter::SetLevel(float level)
{
    const float v = static_cast<float>(GetRange()) * level;
    // Also holds NaN and huge levels to something an int can carry.
    levelValue = v > 0.0f ? (v < 2.0e9f ? static_cast<int>(v) : 2000000000) : 0;
    // The gauge refuses values beyond its range; beyond it the bar is full.
    const int shown = levelValue < GetRange() ? levelValue : GetRange();
    if (shown != GetValue())
        SetValue(shown);
    Refresh();
}

void wxVolumeMeter::FollowLevel(std::function<float()> source, int intervalMs)
{
    levelSource = std::move(source);
    if (levelSource)
        pollTimer.Start(intervalMs);
    else
        pollTimer.Stop();
}

void wxVolumeMeter::OnTimer(wxTimerEvent&)
{
    if (!levelSource)
        return;
    const float level = levelSource();
    SetLevel(level);
    ShowClipping(clipHold.Update(level, wxGetLocalTimeMillis().GetValue()));
}

void wxVolumeMeter::ShowClipping(bool on)
{
    if (on == clipping)
        return;
    clipping = on;
    SetBackgroundColour(on ? kClipColour : kBarColour);
    SetForegroundColour(on ? kClipColour : kFrameColour);
    Refresh();
}
