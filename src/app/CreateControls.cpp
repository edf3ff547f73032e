// The main window's controls and their layout.
#include "Keyboard.h"

#include <wx/sizer.h>

#include "controls/OctaveCtrl.h"
#include "controls/ResourcePath.h"

wxBitmap wxKeyboard::GetBitmapResource(const wxString& name)
{
    if (name == "octave.bmp")
        return wxBitmap(ResourcePath(name), wxBITMAP_TYPE_BMP);
    return wxNullBitmap;
}

void wxKeyboard::CreateControls()
{
    SetBackgroundColour(backgroundColour);

    auto* top = new wxBoxSizer(wxVERTICAL);
    SetSizer(top);

    // Row C: the wheels (to come) and the seven octave controls, low to high.
    auto* rowC = new wxBoxSizer(wxHORIZONTAL);
    top->Add(rowC, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 5);

    blackKeyMarker = wxOctaveCtrl::BlackKeyMarkerBitmap();
    whiteKeyMarker = wxOctaveCtrl::WhiteKeyMarkerBitmap();
    const wxBitmap octavePicture = GetBitmapResource("octave.bmp");
    for (int k = 0; k < NUM_OCTAVES; ++k) {
        auto* octave = new wxOctaveCtrl(this, ID_OCTAVE_FIRST + k, octavePicture,
                                        FIRST_OCTAVE_NOTE + KEYS_PER_OCTAVE * k, this,
                                        wxDefaultPosition, wxSize(wxOctaveCtrl::kWidth, wxOctaveCtrl::kHeight),
                                        wxNO_BORDER);
        octave->SetMarkerBitmaps(&blackKeyMarker, &whiteKeyMarker);
        octaveControls[k] = octave;
        rowC->Add(octave, 0, wxALIGN_CENTER_VERTICAL | wxALL, 0);
        // Keys pressed while an octave control has the focus play notes.
        octave->Bind(wxEVT_KEY_DOWN, &wxKeyboard::OnKeyDown, this);
        octave->Bind(wxEVT_KEY_UP, &wxKeyboard::OnKeyUp, this);
    }

    GetSizer()->Fit(this);
    GetSizer()->SetSizeHints(this);
}
