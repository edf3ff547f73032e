#include "HarmonicsPanel.h"
#include "KeyForwarding.h"
#include "SpectrumTexts.h"

#include <cstring>

#include <wx/dcclient.h>

wxBEGIN_EVENT_TABLE(wxHarmonicsPanel, wxPanel)
    EVT_PAINT(wxHarmonicsPanel::OnPaint)
    EVT_LEFT_DOWN(wxHarmonicsPanel::OnLeftDown)
    EVT_RIGHT_DOWN(wxHarmonicsPanel::OnRightDown)
    // The toolkit reports the second press of a quick double click only as a
    // double click: it is a press all the same.
    EVT_LEFT_DCLICK(wxHarmonicsPanel::OnLeftDown)
    EVT_RIGHT_DCLICK(wxHarmonicsPanel::OnRightDown)
    EVT_RIGHT_UP(wxHarmonicsPanel::OnRightUp)
    EVT_LEFT_UP(wxHarmonicsPanel::OnLeftUp)
    EVT_MOTION(wxHarmonicsPanel::OnMotion)
    EVT_LEAVE_WINDOW(wxHarmonicsPanel::OnLeaveWindow)
    EVT_ENTER_WINDOW(wxHarmonicsPanel::OnEnterWindow)
    EVT_KEY_DOWN(wxHarmonicsPanel::OnKey)
    EVT_KEY_UP(wxHarmonicsPanel::OnKey)
wxEND_EVENT_TABLE()

wxHarmonicsPanel::wxHarmonicsPanel(wxStaticText* safePolyphonyLabel_, wxStaticText* peakLevelLabel_,
                                   wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size)
    : safePolyphonyLabel(safePolyphonyLabel_), peakLevelLabel(peakLevelLabel_)
{
    Create(parent, id, pos, size, wxNO_BORDER | wxWANTS_CHARS, "panel");
}

void wxHarmonicsPanel::SetHarmonicsCallback(HarmonicsCallback* callback_)
{
    callback = callback_;
}

void wxHarmonicsPanel::SetSpectra(const float* attack, const float* sustain)
{
    std::memcpy(attackLevels.level, attack, sizeof attackLevels.level);
    std::memcpy(sustainLevels.level, sustain, sizeof sustainLevels.level);
    ChangeSteps();
}

void wxHarmonicsPanel::SetAttackSpectrum(const float* levels)
{
    // memmove: the caller may hand back one of our own arrays.
    std::memmove(attackLevels.level, levels, sizeof attackLevels.level);
    ChangeSteps();
}

void wxHarmonicsPanel::SetSustainSpectrum(const float* levels)
{
    std::memmove(sustainLevels.level, levels, sizeof sustainLevels.level);
    ChangeSteps();
}

void wxHarmonicsPanel::SetEditAttack(bool attack)
{
    if (attack == editAttack)
        return;
    editAttack = attack;
    UpdateFigures();
    Refresh();
}

void wxHarmonicsPanel::SetDisplayScale(float scale)
{
    displayScale = scale;
    Refresh();
}

void wxHarmonicsPanel::UpdateFigures()
{
    const float sum = SpectrumSum(GetEditedLevels());
    if (peakLevelLabel)
        peakLevelLabel->SetLabel(PeakLevelText(sum));
    if (safePolyphonyLabel)
        safePolyphonyLabel->SetLabel(SafePolyphonyText(sum));
}

void wxHarmonicsPanel::Normalize(int targetPolyphony)
{
    float* edited = editAttack ? attackLevels.level : sustainLevels.level;
    if (NormalizeLevels(edited, targetPolyphony))
        ChangeSteps();
}

void wxHarmonicsPanel::ChangeSteps()
{
    if (callback)
        callback->OnHarmonicsChanged(attackLevels.level, sustainLevels.level);
    UpdateFigures();
    Refresh(true);
}

void wxHarmonicsPanel::EditStroke(const wxMouseEvent& event, bool set, bool join)
{
    const wxPoint p = event.GetPosition();
    const HarmonicsPoint to{p.x, p.y};
    const HarmonicsPoint from = join && strokeOpen ? strokeAt : to;
    strokeAt = to;
    strokeOpen = true;
    // While a button is held the toolkit keeps sending this panel the pointer's
    // moves and release even outside it; only points on the bars edit.
    float* edited = editAttack ? attackLevels.level : sustainLevels.level;
    if (StrokeHarmonics(edited, from, to, GetClientSize().GetHeight(), displayScale, set))
        ChangeSteps();
}

void wxHarmonicsPanel::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    dc.SetPen(wxPen(GetForegroundColour(), 1, wxPENSTYLE_SOLID));
    dc.SetBrush(wxBrush(wxColour(224, 224, 0), wxBRUSHSTYLE_SOLID));
    const int h = GetClientSize().GetHeight();
    const float* levels = GetEditedLevels();
    for (int i = 0; i < NUM_PARTIALS; ++i) {
        const int b = HarmonicsBarHeight(levels[i], h, displayScale);
        if (b > 0)
            dc.DrawRectangle(HARMONICS_BAR_WIDTH * i, h - b, HARMONICS_BAR_WIDTH, b);
    }
}

// A press starts a stroke at its own point; moves and the release of the
// button that drags continue it; a release of the other button edits its own
// point alone.
void wxHarmonicsPanel::OnLeftDown(wxMouseEvent& event)
{
    leftDragging = true;
    rightDragging = false;
    EditStroke(event, true, false);
}

void wxHarmonicsPanel::OnLeftUp(wxMouseEvent& event)
{
    const bool join = leftDragging;
    leftDragging = false;
    rightDragging = false;
    EditStroke(event, true, join);
    strokeOpen = false;
}

void wxHarmonicsPanel::OnRightDown(wxMouseEvent& event)
{
    rightDragging = true;
    leftDragging = false;
    EditStroke(event, false, false);
}

void wxHarmonicsPanel::OnRightUp(wxMouseEvent& event)
{
    const bool join = rightDragging;
    rightDragging = false;
    leftDragging = false;
    EditStroke(event, false, join);
    strokeOpen = false;
}

void wxHarmonicsPanel::OnMotion(wxMouseEvent& event)
{
    if (leftDragging)
        EditStroke(event, true, true);
    else if (rightDragging)
        EditStroke(event, false, true);
    event.Skip();
}

void wxHarmonicsPanel::OnLeaveWindow(wxMouseEvent& event)
{
    // A quick move out is reported here, at the pointer's place outside:
    // the stroke still sets the bars on its way to the edge.
    if (leftDragging)
        EditStroke(event, true, true);
    else if (rightDragging)
        EditStroke(event, false, true);
    leftDragging = false;
    rightDragging = false;
    strokeOpen = false;
    event.Skip();
}

void wxHarmonicsPanel::OnEnterWindow(wxMouseEvent& event)
{
    if (event.LeftIsDown())
        leftDragging = true;
    if (event.RightIsDown())
        rightDragging = true;
    // Back in with a button held: the stroke goes on from where the pointer
    // came in, not from where it left.
    if (leftDragging || rightDragging) {
        strokeAt = HarmonicsPoint{event.GetX(), event.GetY()};
        strokeOpen = true;
    }
    event.Skip();
}

void wxHarmonicsPanel::OnKey(wxKeyEvent& event) { ForwardKeyToParent(this, event); }
