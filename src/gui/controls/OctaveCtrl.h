#pragma once
// One octave of the on-screen piano: twelve keys, C to B, drawn from one
// 137 x 99 picture ("octave.bmp"). A left click on a key starts its note, a
// left-button release anywhere on the control stops every note, a right click
// releases the key's note. The control plays nothing itself: it reports to
// the main window through OctaveCallback, and the main window marks and
// unmarks its keys (SetKeyDown, SetKeyUp, ClearKeys) whenever a note starts or
// stops from any source. Held keys carry a red ball marker. While the left
// button is down the control holds the mouse, and a note whose button can no
// longer be released here (the window minimised, the mouse taken away) is
// released at once.
//
// GUI thread only: the key highlights (KeyHighlights) carry key changes made
// on other threads over to the GUI thread before this control hears of them.

#include <wx/bitmap.h>
#include <wx/control.h>

#include "midi/NoteEvents.h"

class wxOctaveCtrl : public wxControl {
public:
    static constexpr int kWidth = 137;
    static constexpr int kHeight = 99;
    // Above this line the black keys and the narrow tops of the white keys,
    // below it only white keys.
    static constexpr int kLowerZoneTop = 56;

    wxOctaveCtrl();
    wxOctaveCtrl(wxWindow* parent, wxWindowID id, wxBitmap bitmap, int baseNote,
                 OctaveCallback* callback, const wxPoint& pos = wxDefaultPosition,
                 const wxSize& size = wxSize(kWidth, kHeight), long style = wxBORDER_NONE);
    ~wxOctaveCtrl() override;

    // Non-owning; both must outlive the control. Black-key marker first.
    void SetMarkerBitmaps(const wxBitmap* blackMarker, const wxBitmap* whiteMarker);

    void SetKeyDown(int key);
    void SetKeyUp(int key);
    void ClearKeys();
    bool IsKeyDown(int key) const { return keyDown[key]; }
    int BaseNote() const { return baseNote; }

    // The mouse lets go of the note it holds, if any, without a button
    // release: the window was minimised or the mouse capture was lost.
    void LetGoOfMouse();
    // The note a left button down on this control holds, or -1.
    int MouseNote() const { return mouseNote; }

    // The key (0 to 11) under a client point; every point gives a key.
    static int KeyAt(const wxPoint& point);
    static bool IsBlackKey(int key);
    // Where a key's marker bitmap goes, and the circle drawn without one.
    static wxPoint MarkerPosition(int key);
    static wxPoint CircleCentre(int key);
    static int CircleRadius(int key);

    // The two red ball markers, built from the XPM data compiled in.
    static wxBitmap BlackKeyMarkerBitmap();
    static wxBitmap WhiteKeyMarkerBitmap();

protected:
    wxSize DoGetBestSize() const override;

private:
    void OnLeftDown(wxMouseEvent& event);
    void OnLeftUp(wxMouseEvent& event);
    void OnPaint(wxPaintEvent& event);
    void OnRightDown(wxMouseEvent& event);
    void OnCaptureLost(wxMouseCaptureLostEvent& event);

    bool keyDown[KEYS_PER_OCTAVE];
    wxBitmap octaveBitmap;
    OctaveCallback* callback;
    int baseNote;
    const wxBitmap* blackKeyMarker;
    const wxBitmap* whiteKeyMarker;
    int mouseNote = -1;

    wxDECLARE_EVENT_TABLE();
};
