#include "OctaveCtrl.h"

#include <wx/dcclient.h>

namespace {
#include "../../../resources/octave_marker_black.xpm"
#include "../../../resources/octave_marker_white.xpm"

struct KeySpot {
    bool black;
    int markerX, markerY;
    int circleX, circleY;
};

constexpr KeySpot kSpots[KEYS_PER_OCTAVE] = {
    {false, 3, 69, 11, 75},   // C
    {true, 13, 40, 19, 45},   // C sharp
    {false, 23, 69, 30, 75},  // D
    {true, 36, 40, 42, 45},   // D sharp
    {false, 43, 69, 50, 75},  // E
    {false, 62, 69, 69, 75},  // F
    {true, 71, 40, 77, 45},   // F sharp
    {false, 82, 69, 89, 75},  // G
    {true, 92, 40, 98, 45},   // G sharp
    {false, 101, 69, 108, 75}, // A
    {true, 114, 40, 120, 45}, // A sharp
    {false, 121, 69, 128, 75}, // B
};

// First x of each key after the first, left to right: lower zone (white keys
// only) and upper zone (black keys between the narrow white tops).
constexpr int kLowerBounds[] = {20, 39, 59, 78, 98, 117};
constexpr int kLowerKeys[] = {0, 2, 4, 5, 7, 9, 11};
constexpr int kUpperBounds[] = {12, 25, 36, 48, 59, 70, 83, 92, 104, 114, 126};

} // namespace

wxBEGIN_EVENT_TABLE(wxOctaveCtrl, wxControl)
    EVT_LEFT_DOWN(wxOctaveCtrl::OnLeftDown)
    // A quick second click comes as a double click only: it plays as well.
    EVT_LEFT_DCLICK(wxOctaveCtrl::OnLeftDown)
    EVT_MOUSE_CAPTURE_LOST(wxOctaveCtrl::OnCaptureLost)
    EVT_LEFT_UP(wxOctaveCtrl::OnLeftUp)
    EVT_PAINT(wxOctaveCtrl::OnPaint)
    EVT_RIGHT_DOWN(wxOctaveCtrl::OnRightDown)
wxEND_EVENT_TABLE()

wxOctaveCtrl::wxOctaveCtrl()
    : keyDown{}, callback(nullptr), baseNote(0), blackKeyMarker(nullptr), whiteKeyMarker(nullptr)
{
}

wxOctaveCtrl::wxOctaveCtrl(wxWindow* parent, wxWindowID id, wxBitmap bitmap, int baseNote_,
                           OctaveCallback* callback_, const wxPoint& pos, const wxSize& size,
                           long style)
    : keyDown{}, octaveBitmap(bitmap), callback(callback_), baseNote(baseNote_),
      blackKeyMarker(nullptr), whiteKeyMarker(nullptr)
{
    wxControl::Create(parent, id, pos, size, style, wxDefaultValidator, "control");
    // The whole picture is painted every time: nothing to erase first.
    SetBackgroundStyle(wxBG_STYLE_PAINT);
}

wxOctaveCtrl::~wxOctaveCtrl() = default;

void wxOctaveCtrl::SetMarkerBitmaps(const wxBitmap* blackMarker, const wxBitmap* whiteMarker)
{
    blackKeyMarker = blackMarker;
    whiteKeyMarker = whiteMarker;
}

void wxOctaveCtrl::SetKeyDown(int key)
{
    keyDown[key] = true;
    Refresh();
}

void wxOctaveCtrl::SetKeyUp(int key)
{
    keyDown[key] = false;
    Refresh();
}

void wxOctaveCtrl::ClearKeys()
{
    for (bool& k : keyDown)
        k = false;
    Refresh();
}

int wxOctaveCtrl::KeyAt(const wxPoint& point)
{
    if (point.y >= kLowerZoneTop) {
        int i = 0;
        while (i < 6 && point.x >= kLowerBounds[i])
            ++i;
        return kLowerKeys[i];
    }
    int key = 0;
    while (key < 11 && point.x >= kUpperBounds[key])
        ++key;
    return key;
}

bool wxOctaveCtrl::IsBlackKey(int key) { return kSpots[key].black; }
wxPoint wxOctaveCtrl::MarkerPosition(int key) { return {kSpots[key].markerX, kSpots[key].markerY}; }
wxPoint wxOctaveCtrl::CircleCentre(int key) { return {kSpots[key].circleX, kSpots[key].circleY}; }
int wxOctaveCtrl::CircleRadius(int key) { return kSpots[key].black ? 5 : 7; }

wxBitmap wxOctaveCtrl::BlackKeyMarkerBitmap() { return wxBitmap(octave_marker_black_xpm); }
wxBitmap wxOctaveCtrl::WhiteKeyMarkerBitmap() { return wxBitmap(octave_marker_white_xpm); }

wxSize wxOctaveCtrl::DoGetBestSize() const { return {kWidth, kHeight}; }

void wxOctaveCtrl::OnLeftDown(wxMouseEvent& event)
{
    int key = KeyAt(event.GetPosition());
    if (key >= 0 && key < KEYS_PER_OCTAVE && callback) {
        mouseNote = baseNote + key;
        if (!HasCapture())
            CaptureMouse();
        callback->NoteOn(mouseNote, false);
    }
    Refresh();
    // Not skipped: the press is the control's alone.
}

void wxOctaveCtrl::OnLeftUp(wxMouseEvent&)
{
    mouseNote = -1;
    if (HasCapture())
        ReleaseMouse();
    ClearKeys();
    if (callback)
        callback->AllNotesOff(false);
}

void wxOctaveCtrl::LetGoOfMouse()
{
    if (HasCapture())
        ReleaseMouse();
    const int note = mouseNote;
    mouseNote = -1;
    if (note >= 0 && callback)
        callback->ReleaseKey(note);
}

void wxOctaveCtrl::OnCaptureLost(wxMouseCaptureLostEvent&)
{
    // The capture is gone already; only the note is left to release.
    const int note = mouseNote;
    mouseNote = -1;
    if (note >= 0 && callback)
        callback->ReleaseKey(note);
}

void wxOctaveCtrl::OnRightDown(wxMouseEvent& event)
{
    int key = KeyAt(event.GetPosition());
    if (callback)
        callback->ReleaseKey(baseNote + key);
    event.Skip();
}

void wxOctaveCtrl::OnPaint(wxPaintEvent&)
{
    wxPaintDC dc(this);
    if (octaveBitmap.IsOk()) {
        dc.DrawBitmap(octaveBitmap, 0, 0, true);
    } else {
        dc.SetBackground(wxBrush(GetBackgroundColour()));
        dc.Clear();
    }
    dc.SetBrush(*wxRED_BRUSH);
    dc.SetPen(*wxBLACK_PEN);
    const bool bitmaps = blackKeyMarker && whiteKeyMarker;
    for (int key = 0; key < KEYS_PER_OCTAVE; ++key) {
        if (!keyDown[key])
            continue;
        if (bitmaps) {
            const wxBitmap& marker = IsBlackKey(key) ? *blackKeyMarker : *whiteKeyMarker;
            wxPoint at = MarkerPosition(key);
            dc.DrawBitmap(marker, at.x, at.y, true);
        } else {
            wxPoint c = CircleCentre(key);
            int r = CircleRadius(key);
            dc.DrawEllipse(c.x - r, c.y - r, 2 * r, 2 * r);
        }
    }
}
