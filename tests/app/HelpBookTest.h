#pragma once
// What the tests of the help book share: the book built beside the program,
// read through the archive file system, and the help windows that are open.
// GUI thread.
#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

#include <wx/filesys.h>
#include <wx/html/helpfrm.h>
#include <wx/stream.h>
#include <wx/toplevel.h>

inline wxString BookPath()
{
    const char* bin = std::getenv("MAROVANE_BIN_DIR");
    return wxString(bin ? bin : "") + "/marovane.htb";
}

// A file of the built book, or empty. Needs the archive handler, which the
// help book installs when it loads.
inline wxString ReadFromBook(const wxString& name)
{
    wxFileSystem fs;
    std::unique_ptr<wxFSFile> file(fs.OpenFile(wxFileSystem::FileNameToURL(BookPath()) + "#zip:" + name));
    if (!file)
        return {};
    std::ostringstream text;
    char buf[4096];
    wxInputStream* in = file->GetStream();
    while (in->Read(buf, sizeof buf).LastRead() > 0)
        text.write(buf, static_cast<std::streamsize>(in->LastRead()));
    return wxString::FromUTF8(text.str());
}

// The text between two markers, or empty.
inline wxString Between(const wxString& text, const wxString& from, const wxString& to)
{
    const size_t a = text.find(from);
    if (a == wxString::npos)
        return {};
    const size_t b = text.find(to, a + from.size());
    return b == wxString::npos ? wxString() : text.substr(a + from.size(), b - a - from.size());
}

// The book's first page (its project's default topic) and that page's title.
struct FirstPage {
    wxString file;
    wxString title;
};
inline FirstPage BookFirstPage()
{
    FirstPage page;
    page.file = Between(ReadFromBook("marovane.hhp"), "Default topic=", "\n").Trim();
    if (!page.file.empty())
        page.title = Between(ReadFromBook(page.file), "<title>", "</title>");
    return page;
}

// The help windows on the screen.
inline std::vector<wxHtmlHelpFrame*> HelpFrames()
{
    std::vector<wxHtmlHelpFrame*> frames;
    for (wxWindow* w : wxTopLevelWindows)
        if (auto* f = wxDynamicCast(w, wxHtmlHelpFrame); f && f->IsShown() && !f->IsBeingDeleted())
            frames.push_back(f);
    return frames;
}
