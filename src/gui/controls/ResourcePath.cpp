#include "ResourcePath.h"

#include <wx/filename.h>
#include <wx/stdpaths.h>

namespace {
wxArrayString& Override()
{
    static wxArrayString directories;
    return directories;
}
} // namespace

wxString ProgramDirectory()
{
    return wxFileName(wxStandardPaths::Get().GetExecutablePath()).GetPath();
}

wxArrayString ResourceDirectories()
{
    if (!Override().empty())
        return Override();
    const wxString bin = ProgramDirectory();
    wxFileName share = wxFileName::DirName(bin);
    share.RemoveLastDir();
    share.AppendDir("share");
    share.AppendDir("marovane");
    wxArrayString list;
    list.push_back(bin);
    list.push_back(share.GetPath());
    return list;
}

void SetResourceDirectories(const wxArrayString& directories) { Override() = directories; }

wxString ResourcePath(const wxString& name)
{
    const wxArrayString directories = ResourceDirectories();
    for (const wxString& dir : directories) {
        const wxString path = wxFileName(dir, name).GetFullPath();
        if (wxFileName::Exists(path))
            return path;
    }
    return wxFileName(directories.front(), name).GetFullPath();
}

wxImage LoadPicture(const wxString& name)
{
    wxImage image;
    image.LoadFile(ResourcePath(name), wxBITMAP_TYPE_BMP);
    return image;
}
