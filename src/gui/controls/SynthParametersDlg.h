#pragma once
// The main window's panel around the harmonics editor: the editor itself, the
// peak level and safe polyphony figures of the edited spectrum, and the target
// polyphony (a number in a label, stepped by a spin button, 2 at start) that
// Normalize and Generate scale for. Command events of its children stop here;
// key presses go on to the parent (the main window), so notes keep playing
// while the pointer is over the editor. GUI thread.

#include <wx/panel.h>
#include <wx/stattext.h>

#include "BitmapSpinButton.h"
#include "HarmonicsPanel.h"

class SynthParametersDlg : public wxPanel {
public:
    enum {
        ID_SYNTH_PARAMETERS = 13000,
        ID_HARMONICS_PANEL = 13009,
        ID_TARGET_POLYPHONY = 13010,
        ID_TARGET_SPIN = 13011,
    };

    SynthParametersDlg();
    SynthParametersDlg(wxWindow* parent, wxWindowID id = ID_SYNTH_PARAMETERS,
                       const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(500, 540),
                       long style = wxNO_BORDER | wxWANTS_CHARS);
    bool Create(wxWindow* parent, wxWindowID id = ID_SYNTH_PARAMETERS, const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxSize(500, 540), long style = wxNO_BORDER | wxWANTS_CHARS);
    ~SynthParametersDlg() override = default;

    wxHarmonicsPanel* GetHarmonicsPanel() const { return harmonicsPanel; }
    void SetHarmonicsCallback(HarmonicsCallback* callback);
    void SetSpectra(const float* attack, const float* sustain);
    // Normalises the edited spectrum for the target shown in the label.
    void NormalizeToTarget();
    int GetTargetPolyphony() const;

    wxStaticText* GetPeakLevelLabel() const { return peakLevelLabel; }
    wxStaticText* GetSafePolyphonyLabel() const { return safePolyphonyLabel; }
    wxStaticText* GetTargetPolyphonyLabel() const { return targetPolyphonyLabel; }
    wxBitmapSpinButton* GetTargetSpin() const { return targetSpin; }

private:
    void CreateControls();
    void OnTargetDown(wxSpinEvent& event);
    void OnTargetUp(wxSpinEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnKeyUp(wxKeyEvent& event);

    wxColour panelBackground;
    wxColour panelText;
    wxHarmonicsPanel* harmonicsPanel = nullptr;
    wxStaticText* safePolyphonyLabel = nullptr;
    wxStaticText* peakLevelLabel = nullptr;
    wxStaticText* targetPolyphonyLabel = nullptr;
    wxBitmapSpinButton* targetSpin = nullptr;

    wxDECLARE_DYNAMIC_CLASS(SynthParametersDlg);
    wxDECLARE_EVENT_TABLE();
};
