#pragma once
// A peak meter: the toolkit's horizontal gauge, given its level as a fraction
// of full scale. The audio thread never touches it: the render only stores
// its peaks (SynthState::LeftPeak/RightPeak), and FollowLevel polls such a
// source on the GUI thread's timer and shows the latest value. GUI thread.

#include <functional>

#include <wx/gauge.h>
#include <wx/timer.h>

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

    // Polls `source` every intervalMs on the GUI thread and shows its level;
    // an empty source stops the polling.
    void FollowLevel(std::function<float()> source, int intervalMs = 50);

    bool AcceptsFocusFromKeyboard() const override { return false; }

private:
    void OnTimer(wxTimerEvent& event);

    std::function<float()> levelSource;
    wxTimer pollTimer;
    int levelValue = 0;

    wxDECLARE_EVENT_TABLE();
};
