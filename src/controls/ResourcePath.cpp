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

wxImage LoadPicture(const wxString& name)
{
    wxImage image;
    image.LoadFile(ResourcePath(name), wxBITMAP_TYPE_BMP);
    return image;
}
