#include "VolumeMeter.h"

#include <wx/time.h>

#ifdef __WXGTK3__
#include <dlfcn.h>
#endif

namespace {

#ifdef __WXGTK3__
// The meter in the instrument's colours rather than the desktop theme's: an
// orange bar in a near-black trough with a thin brown frame, as tall as the
// control; bar and frame red while the channel is over full scale.
wxString MeterStyle(bool clipping)
{
    const char* bar = clipping ? "#e60000" : "#ff9900";
    const char* frame = clipping ? "#e60000" : "#994d00";
    return wxString::Format("progressbar, progressbar trough {"
                            " min-height: 0; min-width: 0; padding: 0; margin: 0; }"
                            "progressbar trough {"
                            " background-color: #221100; background-image: none;"
                            " border: 1px solid %s; border-radius: 0; }"
                            "progressbar progress {"
                            " background-color: %s; background-image: none;"
                            " border: none; border-radius: 0; min-height: 8px; margin: 0; }",
                            frame, bar);
}

// One style provider per meter, whose style is replaced when the warning
// comes and goes (a new provider each time would pile up in the widget). The
// toolkit is loaded already; its constructor is looked up rather than linked,
// as the toolkit's headers are not part of the build.
GtkCssProvider* NewStyleProvider()
{
    using New = GtkCssProvider* (*)();
    static const auto make = reinterpret_cast<New>(dlsym(RTLD_DEFAULT, "gtk_css_provider_new"));
    return make ? make() : nullptr;
}

void FreeStyleProvider(GtkCssProvider* provider)
{
    using Unref = void (*)(void*);
    static const auto unref = reinterpret_cast<Unref>(dlsym(RTLD_DEFAULT, "g_object_unref"));
    if (provider && unref)
        unref(provider);
}
#endif

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
    styleProvider = NewStyleProvider();
    ApplyStyle();
#endif
}

wxVolumeMeter::~wxVolumeMeter()
{
    pollTimer.Stop();
#ifdef __WXGTK3__
    FreeStyleProvider(styleProvider);
#endif
}

void wxVolumeMeter::ApplyStyle()
{
#ifdef __WXGTK3__
    if (styleProvider)
        GTKApplyCssStyle(styleProvider, MeterStyle(clipping).utf8_str());
    else if (!clipping)
        GTKApplyCssStyle(MeterStyle(false).utf8_str());
#endif
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
    ApplyStyle();
    Refresh();
}
