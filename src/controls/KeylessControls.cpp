#include "KeylessControls.h"

wxKeylessChoice::wxKeylessChoice(wxWindow* parent, wxWindowID id, const wxPoint& pos, const wxSize& size,
                                 const wxArrayString& choices, long style)
    : wxKeyless(TypedChars::Swallowed)
{
    Create(parent, id, pos, size, choices, style, wxDefaultValidator, "choice");
    // The toolkit gives a focused native choice no key events to hand on, so
    // it must not take the focus from the keyboard in the first place.
    SetCanFocus(false);
}

wxKeylessButton::wxKeylessButton(wxWindow* parent, wxWindowID id, const wxString& label, const wxPoint& pos,
                                 const wxSize& size, long style)
    : wxKeyless(TypedChars::ToParent)
{
    Create(parent, id, label, pos, size, style, wxDefaultValidator, "button");
    // A focused native button gets no key events from the toolkit to hand
    // on, so a click must leave the focus with the keyboard.
    SetCanFocus(false);
}

wxKeylessBitmapButton::wxKeylessBitmapButton(wxWindow* parent, wxWindowID id, const wxBitmap& bitmap,
                                             const wxPoint& pos, const wxSize& size, long style)
    : wxKeyless(TypedChars::ToParent)
{
    Create(parent, id, bitmap, pos, size, style, wxDefaultValidator, "button");
    // Also a click must leave the focus where it was.
    SetCanFocus(false);
#ifdef __WXGTK3__
    // The theme's padding would leave a small button only a sliver of its
    // picture: a thin frame instead, the face whole inside it.
    GTKApplyCssStyle("* { padding: 1px; min-width: 0; min-height: 0; }");
#endif
}
