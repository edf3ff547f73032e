#include "SynthParametersDlg.h"

#include <climits>

#include <wx/sizer.h>

#include "Palette.h"
#include "ResourcePath.h"
#include "controls/SpectrumMath.h"
#include "controls/SpectrumTexts.h"
#include "KeyForwarding.h"

wxIMPLEMENT_DYNAMIC_CLASS(SynthParametersDlg, wxPanel);

wxBEGIN_EVENT_TABLE(SynthParametersDlg, wxPanel)
    EVT_SPIN_DOWN(SynthParametersDlg::ID_TARGET_SPIN, SynthParametersDlg::OnTargetDown)
    EVT_SPIN_UP(SynthParametersDlg::ID_TARGET_SPIN, SynthParametersDlg::OnTargetUp)
    EVT_KEY_DOWN(SynthParametersDlg::OnKeyDown)
    EVT_KEY_UP(SynthParametersDlg::OnKeyUp)
wxEND_EVENT_TABLE()

SynthParametersDlg::SynthParametersDlg() = default;

SynthParametersDlg::SynthParametersDlg(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                                       long style)
{
    Create(parent, id, pos, size, style | wxWANTS_CHARS);
}

bool SynthParametersDlg::Create(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size, long style)
{
    panelText = TextColour();
    panelBackground = BackgroundColour();
    harmonicsPanel = nullptr;
    safePolyphonyLabel = nullptr;
    peakLevelLabel = nullptr;
    targetPolyphonyLabel = nullptr;
    targetSpin = nullptr;
    SetExtraStyle(GetExtraStyle() | wxWS_EX_BLOCK_EVENTS);
    if (!wxPanel::Create(parent, id, pos, size, style, "panel"))
        return false;
    CreateControls();
    GetSizer()->Fit(this);
    GetSizer()->SetSizeHints(this);
    Centre(wxBOTH);
    return true;
}

void SynthParametersDlg::CreateControls()
{
    SetBackgroundColour(panelBackground);
    auto* column = new wxBoxSizer(wxVERTICAL);
    SetSizer(column);

    peakLevelLabel = new wxStaticText(this, wxID_STATIC, _("Peak Level:"), wxDefaultPosition, wxSize(116, -1), 0,
                                      "staticText");
    peakLevelLabel->SetForegroundColour(panelText);
    safePolyphonyLabel = new wxStaticText(this, wxID_STATIC, _("Safe Polyphony:"), wxDefaultPosition,
                                          wxSize(108, -1), 0, "staticText");
    safePolyphonyLabel->SetForegroundColour(panelText);
    // The figures change under the user's hand: wide enough for their longest
    // texts in this desktop's font, so the row does not jump or overlap.
    const auto widen = [](wxStaticText* label, const wxString& longest) {
        const int width = label->GetTextExtent(longest).GetWidth() + 4;
        if (width > label->GetMinSize().GetWidth())
            label->SetMinSize(wxSize(width, -1));
    };
    widen(peakLevelLabel, PeakLevelText(-99.999f));
    widen(safePolyphonyLabel, _("Safe Polyphony: 9999"));

    auto* editorRow = new wxBoxSizer(wxHORIZONTAL);
    harmonicsPanel = new wxHarmonicsPanel(safePolyphonyLabel, peakLevelLabel, this, ID_HARMONICS_PANEL,
                                          wxDefaultPosition, wxSize(HARMONICS_EDITOR_WIDTH, 300));
    harmonicsPanel->SetBackgroundColour(EditorBackgroundColour());
    harmonicsPanel->SetForegroundColour(wxColour(204, 102, 0));
    editorRow->Add(harmonicsPanel, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    column->Add(editorRow, 0, wxALIGN_CENTER_HORIZONTAL, 0);

    auto* figuresRow = new wxBoxSizer(wxHORIZONTAL);
    figuresRow->Add(peakLevelLabel, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    figuresRow->Add(safePolyphonyLabel, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    auto* targetCaption = new wxStaticText(this, wxID_STATIC, _("Target Polyphony:"), wxDefaultPosition,
                                           wxDefaultSize, 0, "staticText");
    targetCaption->SetForegroundColour(panelText);
    figuresRow->Add(targetCaption, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    targetPolyphonyLabel = new wxStaticText(this, ID_TARGET_POLYPHONY, "2", wxDefaultPosition, wxSize(20, -1), 0,
                                            "staticText");
    targetPolyphonyLabel->SetForegroundColour(panelText);
    targetPolyphonyLabel->SetBackgroundColour(panelBackground);
    figuresRow->Add(targetPolyphonyLabel, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);

    const wxImage spinImage = LoadPicture("spin.bmp");
    targetSpin = new wxBitmapSpinButton(this, ID_TARGET_SPIN, wxDefaultPosition, wxSize(16, 22), wxSP_ARROW_KEYS);
    targetSpin->SetImage(&spinImage);
    figuresRow->Add(targetSpin, 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);
    column->Add(figuresRow, 0, wxALIGN_CENTER_HORIZONTAL, 0);
}

void SynthParametersDlg::SetHarmonicsCallback(HarmonicsCallback* callback)
{
    harmonicsPanel->SetHarmonicsCallback(callback);
}

void SynthParametersDlg::SetSpectra(const float* attack, const float* sustain)
{
    harmonicsPanel->SetSpectra(attack, sustain);
}

int SynthParametersDlg::GetTargetPolyphony() const
{
    return ReadTargetPolyphony(targetPolyphonyLabel->GetLabel());
}

void SynthParametersDlg::NormalizeToTarget()
{
    harmonicsPanel->Normalize(GetTargetPolyphony());
}

void SynthParametersDlg::OnTargetUp(wxSpinEvent& event)
{
    const int n = GetTargetPolyphony();
    if (n < INT_MAX)
        targetPolyphonyLabel->SetLabel(wxString::Format("%d", n + 1));
    event.Skip();
}

void SynthParametersDlg::OnTargetDown(wxSpinEvent& event)
{
    const int n = GetTargetPolyphony();
    if (n > 0)
        targetPolyphonyLabel->SetLabel(wxString::Format("%d", n - 1));
    event.Skip();
}

void SynthParametersDlg::OnKeyDown(wxKeyEvent& event) { ForwardKeyToParent(this, event); }

void SynthParametersDlg::OnKeyUp(wxKeyEvent& event) { ForwardKeyToParent(this, event); }
