#pragma once
// Where the program's files (bitmaps, icon, help book, patches) are. Two
// places are looked at, in this order:
//   - the folder that holds the program file: a build tree, or a program
//     unpacked anywhere;
//   - ../share/marovane from that folder: an installed program
//     (<prefix>/bin/marovane with its files in <prefix>/share/marovane).
// Either way the program runs from any current directory.
// GUI thread.
#include <wx/arrstr.h>
#include <wx/image.h>
#include <wx/string.h>

// The folder of the running program, with no trailing separator.
wxString ProgramDirectory();

// The folders searched, in order. The program's own by default; a test may
// set others (an empty list restores the default).
wxArrayString ResourceDirectories();
void SetResourceDirectories(const wxArrayString& directories);

// A file or folder by its bare name ("octave.bmp", "patches"): the first of
// the searched folders that holds it. When none does, the name beside the
// program, so that a message about it names a sensible place.
wxString ResourcePath(const wxString& name);

// A BMP picture among the program's files. Every picture of the program is loaded
// so: a file that cannot be opened is reported by the toolkit, the image
// stays empty and the control that uses it draws without it.
wxImage LoadPicture(const wxString& name);
