#pragma once
// The colours of the whole interface: warm text on dark brown, the editor and
// previews on near black.
#include <wx/colour.h>

inline wxColour TextColour() { return wxColour(255, 204, 102); }
inline wxColour BackgroundColour() { return wxColour(102, 51, 0); }
inline wxColour EditorBackgroundColour() { return wxColour(34, 17, 0); }
