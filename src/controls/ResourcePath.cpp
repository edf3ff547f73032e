#include "ResourcePath.h"

#include <wx/filename.h>
#include <wx/stdpaths.h>

wxString ProgramDirectory()
{
    return wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath();
}

wxString ResourcePath(const wxString& name)
{
    return wxFileName(ProgramDirectory(), name).GetFullPath();
}
