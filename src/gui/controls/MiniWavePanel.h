#pragma once
// A small panel that draws one cycle of a waveform (120 samples, one per
// pixel column) in yellow over a brown centre line: the attack and sustain
// previews under the harmonics editor. It never takes the focus. GUI
// thread.

#include <wx/panel.h>

#include "synth/Preview.h"

class wxMiniWavePanel : public wxPanel {
public:
    wxMiniWavePanel(wxWindow* parent, wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                    const wxSize& size = wxSize(PREVIEW_LENGTH, 100));

    // Copies the 120 samples and repaints the whole panel.
    void SetWaveData(const float* samples);
    const float* GetWaveData() const { return samples; }

    // A picture only: a click leaves the keyboard with the music.
    bool AcceptsFocus() const override { return false; }
    bool AcceptsFocusFromKeyboard() const override { return false; }

protected:
    wxSize DoGetBestSize() const override { return wxSize(width, height); }

private:
    void OnPaint(wxPaintEvent& event);

    int width;
    int height;
    float samples[PREVIEW_LENGTH] = {};

    wxDECLARE_EVENT_TABLE();
};
