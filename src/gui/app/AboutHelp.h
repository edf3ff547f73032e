#pragma once
// The program's documentation: the about box and the help book.
//
// The about box is the toolkit's generic one, shown modally over the main
// window in the instrument's colours. The help book "marovane.htb" is a zip of
// HTML pages read through the toolkit's archive file system and shown by an
// HTML help controller whose window has the contents tree and the pages only.
// The help window is an ordinary top-level window: the instrument keeps
// playing while it is open, and it never keeps the program alive once the
// main window has closed.
//
// GUI thread only.
#include <memory>

#include <wx/aboutdlg.h>
#include <wx/icon.h>
#include <wx/string.h>

class wxHtmlHelpController;
class wxHtmlHelpFrame;
class wxWindow;

// The message shown at start-up when the help book cannot be read.
extern const char HELP_BOOK_MISSING_MESSAGE[];

// Everything the about box shows: name, version, description, copyright,
// the developers, the licence (the text of LICENSE) and the icon when it is
// valid. There is no web site to show.
wxAboutDialogInfo MakeAboutInfo(const wxIcon& icon);

// Shows the about box over `parent` and returns when the user has closed it.
void ShowAboutBox(wxWindow* parent, const wxIcon& icon);

class HelpBook {
public:
    HelpBook();
    ~HelpBook();
    HelpBook(const HelpBook&) = delete;
    HelpBook& operator=(const HelpBook&) = delete;

    // Start-up: lets the toolkit's file system read zip archives, creates the
    // help controller and adds the book at `path`. When the book cannot be
    // read, says so in the program's message box; the help window then opens
    // empty. Returns whether the book was added. Call once.
    bool Load(const wxString& path);

    // Opens the help window on the book's first page with its contents, or
    // brings the open one to the front. `icon` becomes its icon when valid.
    void ShowContents(const wxIcon& icon = wxIcon());

    // Closes the help window if it is open (the program is ending).
    void Close();

    // The open help window, or null.
    wxHtmlHelpFrame* Frame() const;

private:
    class Controller;
    std::unique_ptr<Controller> controller;
};
