#pragma once
// Where the program's resource files (bitmaps, icon, help book, patches) are:
// the folder that holds the program file, so it runs from any directory.
// GUI thread.
#include <wx/string.h>

// The folder of the running program, with no trailing separator.
wxString ProgramDirectory();
// A resource file beside the program, by its bare name ("octave.bmp").
wxString ResourcePath(const wxString& name);
