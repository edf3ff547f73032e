#include "AboutHelp.h"

#include <dlfcn.h>

#include <wx/button.h>
#include <wx/collpane.h>
#include <wx/display.h>
#include <wx/filename.h>
#include <wx/filesys.h>
#include <wx/fs_arc.h>
#include <wx/generic/aboutdlgg.h>
#include <wx/html/helpctrl.h>
#include <wx/html/helpfrm.h>
#include <wx/html/helpwnd.h>
#include <wx/html/htmlwin.h>
#include <wx/log.h>
#include <wx/statusbr.h>
#include <wx/treectrl.h>

#include <algorithm>
#include <functional>

#include "app/AboutText.h"
#include "controls/MessageBox.h"
#include "controls/Palette.h"

const char HELP_BOOK_MISSING_MESSAGE[] =
    "Unable to load help file.  Please make sure that marovane.htb is in the program directory.";

namespace {

// Wide enough for the screenshot of the window beside the contents.
const wxSize HELP_WINDOW_SIZE(1000, 720);

// The text of every label in the instrument's warm orange on its brown;
// buttons keep the desktop's look, as they do in the main window.
void Colour(wxWindow* window)
{
    for (wxWindow* child : window->GetChildren()) {
        if (wxDynamicCast(child, wxButton))
            continue;
        child->SetBackgroundColour(BackgroundColour());
        child->SetForegroundColour(TextColour());
        Colour(child);
    }
}

// The toolkit's generic about dialog in the instrument's colours. On this
// desktop the toolkit would show the dialog without waiting for it; here it
// is modal, so the instrument takes no input until it is closed.
class AboutBox : public wxGenericAboutDialog {
public:
    AboutBox(const wxAboutDialogInfo& info, wxWindow* parent)
    {
        Create(info, parent);
        SetBackgroundColour(BackgroundColour());
        SetForegroundColour(TextColour());
        Colour(this);
        // The collapsible panes change the size as they open; keep the
        // colours of their contents when they do, and the box on the screen:
        // the licence makes it grow downwards, past the bottom of a screen
        // 1000 pixels high when it opened over the middle.
        Bind(wxEVT_COLLAPSIBLEPANE_CHANGED, [this](wxCollapsiblePaneEvent& event) {
            Colour(this);
            CallAfter([this] { KeepOnScreen(); });
            event.Skip();
        });
    }

private:
    // Moves the box up (and left) as far as it runs past the screen's
    // usable area, never above or left of it.
    void KeepOnScreen()
    {
        const int index = wxDisplay::GetFromWindow(this);
        const wxRect area = wxDisplay(index == wxNOT_FOUND ? 0u : static_cast<unsigned>(index)).GetClientArea();
        const wxRect box = GetScreenRect();
        const int x = std::max(area.x, std::min(box.x, area.GetRight() + 1 - box.width));
        const int y = std::max(area.y, std::min(box.y, area.GetBottom() + 1 - box.height));
        if (x != box.x || y != box.y)
            Move(x, y);
    }
};

// The licence's paragraphs, each on one line: the about box wraps them to
// its own width, which the file's short lines would break up raggedly.
wxString Paragraphs(const wxString& text)
{
    wxString out;
    wxString paragraph;
    for (wxString line : wxSplit(text, '\n', '\0')) {
        line.Trim(true).Trim(false);
        if (line.empty()) {
            if (!paragraph.empty())
                out += (out.empty() ? "" : "\n\n") + paragraph;
            paragraph.clear();
        } else {
            paragraph += (paragraph.empty() ? "" : " ") + line;
        }
    }
    if (!paragraph.empty())
        out += (out.empty() ? "" : "\n\n") + paragraph;
    return out;
}

// The help window in the instrument's colours, big enough for the pages'
// pictures, centred, with the book's chapters listed. Before it shows.
void Dress(wxHtmlHelpFrame& frame, const wxIcon& icon)
{
    if (icon.IsOk())
        frame.SetIcon(icon);
    frame.SetSize(HELP_WINDOW_SIZE);
    frame.SetBackgroundColour(BackgroundColour());
    wxHtmlHelpWindow* window = frame.GetHelpWindow();
    if (!window)
        return;
    // The pages bring their own colours.
    std::function<void(wxWindow*)> colour = [&](wxWindow* w) {
        if (wxDynamicCast(w, wxHtmlWindow))
            return;
        w->SetBackgroundColour(BackgroundColour());
        w->SetForegroundColour(TextColour());
        for (wxWindow* child : w->GetChildren())
            colour(child);
    };
    colour(window);
    if (wxStatusBar* status = frame.GetStatusBar())
        colour(status);
    if (wxTreeCtrl* tree = window->GetTreeCtrl()) {
        wxTreeItemIdValue cookie;
        for (wxTreeItemId book = tree->GetFirstChild(tree->GetRootItem(), cookie); book.IsOk();
             book = tree->GetNextChild(tree->GetRootItem(), cookie))
            tree->Expand(book);
    }
}

// Window managers keep a dialog that has no parent, as the main window is,
// above the ordinary windows of its program: a help window of the ordinary
// kind would open, and stay, behind the main window. Marked as a dialog too,
// before it is shown, it takes turns in front with the main window. The
// toolkit has no word for this, so its GTK call is looked up in the running
// program (GTK is loaded by the toolkit; nothing happens without it).
void AsDialog(wxTopLevelWindow& window)
{
    using SetTypeHint = void (*)(void* gtkWindow, int hint);
    constexpr int GDK_WINDOW_TYPE_HINT_DIALOG = 1;
    if (auto set = reinterpret_cast<SetTypeHint>(dlsym(RTLD_DEFAULT, "gtk_window_set_type_hint")))
        set(window.GetHandle(), GDK_WINDOW_TYPE_HINT_DIALOG);
}

void InstallArchiveHandler()
{
    static bool installed = false;
    if (!installed) {
        wxFileSystem::AddHandler(new wxArchiveFSHandler);
        installed = true;
    }
}

} // namespace

// The help controller whose window is dressed before it first shows.
class HelpBook::Controller : public wxHtmlHelpController {
public:
    Controller() : wxHtmlHelpController(wxHF_CONTENTS, nullptr) {}
    wxIcon icon;

protected:
    wxHtmlHelpFrame* CreateHelpFrame(wxHtmlHelpData* data) override
    {
        wxHtmlHelpFrame* frame = wxHtmlHelpController::CreateHelpFrame(data);
        AsDialog(*frame);
        Dress(*frame, icon);
        return frame;
    }
};

wxAboutDialogInfo MakeAboutInfo(const wxIcon& icon)
{
    wxAboutDialogInfo info;
    info.SetVersion(MAROVANE_VERSION_TEXT);
    info.SetCopyright("Copyright (c) 2026 the Marovane developers");
    info.AddDeveloper("The Marovane developers");
    if (icon.IsOk())
        info.SetIcon(icon);
    info.SetLicence(Paragraphs(wxString::FromUTF8(MAROVANE_LICENSE_TEXT)));
    info.SetName("Marovane");
    info.SetDescription("Marovane uses the wxWidgets, PortAudio, and RtMidi libraries.");
    return info;
}

void ShowAboutBox(wxWindow* parent, const wxIcon& icon)
{
    AboutBox box(MakeAboutInfo(icon), parent);
    box.ShowModal();
}

HelpBook::HelpBook() = default;

HelpBook::~HelpBook() { Close(); }

bool HelpBook::Load(const wxString& path)
{
    InstallArchiveHandler();
    controller = std::make_unique<Controller>();
    controller->SetTitleFormat("Marovane Help: %s");
    bool loaded = false;
    if (wxFileName::FileExists(path)) {
        wxLogNull quiet; // a damaged book gets our message, not the toolkit's
        loaded = controller->AddBook(wxFileName(path), false);
    }
    if (!loaded)
        ShowMessage(HELP_BOOK_MISSING_MESSAGE);
    return loaded;
}

void HelpBook::ShowContents(const wxIcon& icon)
{
    if (!controller)
        return;
    controller->icon = icon;
    // Opens the window on the first page, or raises the open one.
    const bool opening = Frame() == nullptr;
    controller->DisplayContents();
    // Into the middle of the screen once the window manager has placed it
    // where the help controller asked (the top left corner).
    if (opening && Frame()) {
        wxHtmlHelpFrame* frame = Frame();
        frame->CallAfter([frame] {
            const wxSize screen = wxGetDisplaySize();
            const wxSize size = HELP_WINDOW_SIZE;
            frame->Move(std::max(0, (screen.x - size.x) / 2), std::max(0, (screen.y - size.y) / 2));
        });
    }
}

void HelpBook::Close()
{
    // Deleted at once, while the controller it reports to still exists (a
    // window left for the toolkit to delete later would tell a controller
    // already gone that it closed).
    delete Frame();
}

wxHtmlHelpFrame* HelpBook::Frame() const
{
    // The controller forgets its window when the user closes it.
    wxWindow* window = controller ? controller->GetHelpWindow() : nullptr;
    return window ? wxDynamicCast(wxGetTopLevelParent(window), wxHtmlHelpFrame) : nullptr;
}
