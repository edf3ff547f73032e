#pragma once
// The editor of the two harmonic spectra: 128 bars, 5 pixels wide, showing
// the attack or the sustain spectrum. The left button draws a bar up to the
// pointer, the right button clears it, holding a button paints across bars:
// every bar on the straight line between two successive pointer positions,
// so that a quick stroke leaves no gaps.
// The panel owns its copy of both spectra and reports both after every change
// through HarmonicsCallback. Keys pressed while it has the focus go to its
// parent, so the note keys keep playing after a click on it. It keeps the
// peak level and safe polyphony labels of the edited spectrum up to date. Created by SynthParametersDlg; GUI thread.

#include <wx/panel.h>
#include <wx/stattext.h>

#include "HarmonicsCallback.h"
#include "controls/SpectrumMath.h"

class wxHarmonicsPanel : public wxPanel {
public:
    // The style is fixed (no border, all keys); the labels are not owned and
    // either may be null.
    wxHarmonicsPanel(wxStaticText* safePolyphonyLabel, wxStaticText* peakLevelLabel, wxWindow* parent,
                     wxWindowID id, const wxPoint& pos = wxDefaultPosition,
                     const wxSize& size = wxSize(HARMONICS_EDITOR_WIDTH, 300));
    ~wxHarmonicsPanel() override = default;

    void SetHarmonicsCallback(HarmonicsCallback* callback);

    // Each copies 128 levels (stored as they come, negative or not) and then
    // reports, recomputes the figures and repaints.
    void SetSpectra(const float* attack, const float* sustain);
    void SetAttackSpectrum(const float* levels);
    void SetSustainSpectrum(const float* levels);
    const float* GetAttackLevels() const { return attackLevels.level; }
    const float* GetSustainLevels() const { return sustainLevels.level; }
    // The spectrum the user sees and edits.
    const float* GetEditedLevels() const { return editAttack ? attackLevels.level : sustainLevels.level; }

    // Shows and edits the attack (true) or the sustain spectrum. Changes no
    // sound, so nothing is reported.
    void SetEditAttack(bool attack);
    bool IsEditingAttack() const { return editAttack; }

    // Vertical zoom: the top row stands for level 1 / scale.
    void SetDisplayScale(float scale);
    float GetDisplayScale() const { return displayScale; }

    // Recomputes both labels from the edited spectrum.
    void UpdateFigures();
    // Scales the edited spectrum to sum 1 / targetPolyphony; a target below 1
    // changes and reports nothing.
    void Normalize(int targetPolyphony);

    bool IsLeftDragging() const { return leftDragging; }
    bool IsRightDragging() const { return rightDragging; }

private:
    void ChangeSteps();
    // Draws (set) or clears the bars from the stroke's last point to the
    // event's; `join` false starts the line afresh at the event.
    void EditStroke(const wxMouseEvent& event, bool set, bool join);

    void OnPaint(wxPaintEvent& event);
    void OnLeftDown(wxMouseEvent& event);
    void OnRightDown(wxMouseEvent& event);
    void OnRightUp(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnMotion(wxMouseEvent& event);
    void OnLeaveWindow(wxMouseEvent& event);
    void OnEnterWindow(wxMouseEvent& event);
    void OnKey(wxKeyEvent& event);

    HarmonicsCallback* callback = nullptr;
    HarmonicSpectrum attackLevels{};
    HarmonicSpectrum sustainLevels{};
    wxStaticText* safePolyphonyLabel;
    wxStaticText* peakLevelLabel;
    float displayScale = 2.0f;
    bool leftDragging = false;
    bool rightDragging = false;
    bool editAttack = true;
    // The pointer's last position in the current stroke, when there is one.
    HarmonicsPoint strokeAt{};
    bool strokeOpen = false;

    wxDECLARE_EVENT_TABLE();
};
