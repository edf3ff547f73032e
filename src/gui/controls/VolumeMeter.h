#pragma once
// A peak meter: the toolkit's horizontal gauge, given its level as a fraction
// of full scale. The audio thread never touches it: the render only stores
// its peaks (SynthState::TakeLeftMaxPeak/TakeRightMaxPeak), and FollowLevel
// polls such a source on the GUI thread's timer and shows the value. A level
// beyond full scale turns the bar and its frame red, and they stay red for
// about a second after the last such level (ClipHold.h). GUI thread.

#include <functional>

#include <wx/gauge.h>
#include <wx/timer.h>

#include "controls/ClipHold.h"

class wxVolumeMeter : public wxGauge {
public:
    wxVolumeMeter(wxWindow* parent, wxWindowID id, int range, const wxPoint& pos = wxDefaultPosition,
                  const wxSize& size = wxSize(100, 10), long style = wxBORDER_NONE);
    ~wxVolumeMeter() override;

    // Shows range x level, truncated. A level above 1 shows a full bar and a
    // level of 0 (or below) an empty one.
    void SetLevel(float level);
    // The value SetLevel computed, before the gauge held it to its range.
    int GetLevelValue() const { return levelValue; }
    // Whether the meter shows the overload warning (red) now.
    bool IsClipping() const { return clipping; }

    // Polls `source` every intervalMs on the GUI thread and shows its level;
    // an empty source stops the polling.
    void FollowLevel(std::function<float()> source, int intervalMs = 50);

    bool AcceptsFocusFromKeyboard() const override { return false; }

private:
    void OnTimer(wxTimerEvent& event);
    void ShowClipping(bool on);
    void ApplyStyle();

    std::function<float()> levelSource;
    wxTimer pollTimer;
    int levelValue = 0;
    ClipHold clipHold;
    bool clipping = false;
#ifdef __WXGTK3__
    GtkCssProvider* styleProvider = nullptr;
#endif

    wxDECLARE_EVENT_TABLE();
};
