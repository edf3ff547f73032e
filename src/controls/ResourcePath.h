#pragma once
// Where the program's resource files (bitmaps, icon, help book, patches) are:
// the folder that holds the program file, so it runs from any directory.
// GUI thread.
#include <wx/image.h>
#include <wx/string.h>

// The folder of the running program, with no trailing separator.
wxString ProgramDirectory();
// A resource file beside the program, by its bare name ("octave.bmp").
wxString ResourcePath(const wxString& name);

// A BMP picture beside the program. Every picture of the program is loaded
// so: a file that cannot be opened is reported by the toolkit, the image
// stays empty and the control that uses it draws without it.
wxImage LoadPicture(const wxString& name);
